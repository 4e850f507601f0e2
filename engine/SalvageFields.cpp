#include "engine/SalvageFields.h"

#include <cmath>
#include <cstring>

#include "engine/RecordEncoding.h"

namespace zel::engine::salvage {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::size_t kBlobBlock = 4096;
constexpr std::uint8_t kBlobOwnBlock = 0xFF;
constexpr std::uint8_t kBlobSlots = 64;

bool Blank(const std::uint8_t* p, std::size_t n) {
  return record::IsBlank(p, n);
}

}  // namespace

std::int64_t LastDay() noexcept {
  static const std::int64_t last = record::DateFromYmd(9999, 12, 31);
  return last;
}

const char* FieldProblem(const px::Field& f, const std::uint8_t* rec, const BlobFileFacts& blobs) {
  const std::uint8_t* p = rec + f.offset;
  switch (f.code) {
    case px::FieldCode::Alpha: {
      const void* nul = std::memchr(p, 0, f.bytes);
      if (!nul) return nullptr;
      const auto* z = static_cast<const std::uint8_t*>(nul);
      return Blank(z, f.bytes - static_cast<std::size_t>(z - p)) ? nullptr : "text after its end";
    }
    case px::FieldCode::Date: {
      if (Blank(p, 4)) return nullptr;
      const std::int64_t d = record::GetSortableLong(p);
      return d >= 1 && d <= LastDay() ? nullptr : "date out of range";
    }
    case px::FieldCode::Time: {
      if (Blank(p, 4)) return nullptr;
      const std::int64_t t = record::GetSortableLong(p);
      return t >= 0 && t < kMsPerDay ? nullptr : "time out of range";
    }
    case px::FieldCode::AutoInc:
      // The engine hands out values from 1; a blank or lower one was never written by it.
      if (Blank(p, 4)) return "blank autoincrement value";
      return record::GetSortableLong(p) >= 1 ? nullptr : "autoincrement value below 1";
    case px::FieldCode::Logical:
      return p[0] == 0 || p[0] == 0x80 || p[0] == 0x81 ? nullptr : "logical value not 0/0x80/0x81";
    case px::FieldCode::Number:
    case px::FieldCode::Currency: {
      if (Blank(p, 8)) return nullptr;
      return std::isfinite(record::GetSortableDouble(p)) ? nullptr : "number not finite";
    }
    case px::FieldCode::Timestamp: {
      if (Blank(p, 8)) return nullptr;
      const double ms = record::GetSortableDouble(p);
      if (!std::isfinite(ms)) return "timestamp not finite";
      const double end = static_cast<double>(LastDay() + 1) * static_cast<double>(kMsPerDay);
      return ms >= static_cast<double>(kMsPerDay) && ms < end ? nullptr : "timestamp out of range";
    }
    case px::FieldCode::Memo:
    case px::FieldCode::Blob:
    case px::FieldCode::FormattedMemo:
    case px::FieldCode::Ole:
    case px::FieldCode::Graphic: {
      const std::size_t leader = f.bytes - px::kBlobDescriptorBytes;
      const std::uint8_t* d = p + leader;
      const std::uint32_t offset = px::Le32(d);
      const std::uint32_t length = px::Le32(d + 4);
      if (offset == 0) {
        // The whole value lives in the leader.
        return length <= leader ? nullptr : "BLOB longer than its leader without a pointer";
      }
      if (length == 0) return "BLOB pointer with no length";
      const std::uint32_t block = offset & ~0xFFu;
      const std::uint8_t index = static_cast<std::uint8_t>(offset & 0xFF);
      if (block == 0 || block % kBlobBlock != 0) return "BLOB pointer not on a block";
      if (index != kBlobOwnBlock && index >= kBlobSlots) return "BLOB pointer to no slot";
      if (blobs.size != 0 && block >= blobs.size) return "BLOB pointer past the .MB";
      if (blobs.size != 0 && index == kBlobOwnBlock && block + std::uint64_t{length} > blobs.size)
        return "BLOB runs past the .MB";
      return nullptr;
    }
    default:
      return nullptr;  // Short, Long, BCD and Bytes take any bytes
  }
}

const char* RecordProblem(const px::Header& h, const std::uint8_t* rec,
                          const BlobFileFacts& blobs) {
  for (const px::Field& f : h.fields) {
    if (const char* why = FieldProblem(f, rec, blobs)) return why;
  }
  return nullptr;
}

}  // namespace zel::engine::salvage
