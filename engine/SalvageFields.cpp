#include "engine/SalvageFields.h"

#include <cmath>
#include <cstring>

#include "engine/FieldValues.h"
#include "engine/RecordEncoding.h"

namespace zel::engine::salvage {
namespace {

constexpr std::size_t kBlobBlock = 4096;
constexpr std::uint8_t kBlobOwnBlock = 0xFF;
constexpr std::uint8_t kBlobSlots = 64;

}  // namespace

std::int64_t LastDay() noexcept {
  return values::LastDate();
}

const char* FieldProblem(const px::Field& f, const std::uint8_t* rec, const BlobFileFacts& blobs) {
  const std::uint8_t* p = rec + f.offset;
  switch (f.code) {
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
      // The rule the deep check holds values to; Alpha, Short, Long, Autoincrement and Bytes
      // take any bytes.
      return values::Problem(f, p);
  }
}

const char* RecordProblem(const px::Header& h, const std::uint8_t* rec,
                          const BlobFileFacts& blobs) {
  for (const px::Field& f : h.fields) {
    if (px::IsBlobField(f.code)) {
      if (const char* why = FieldProblem(f, rec, blobs)) return why;
    } else if (!values::IsValue(f, rec + f.offset)) {
      return values::Problem(f, rec + f.offset);
    }
  }
  return nullptr;
}

}  // namespace zel::engine::salvage
