#include "engine/WriterBlobs.h"

#include <cstring>

#include "engine/EngineError.h"
#include "engine/ParadoxFormat.h"
#include "engine/TableWriter.h"

namespace zel::engine::writer {
namespace {

constexpr std::size_t kUnit = 4096;
constexpr std::uint8_t kOwnBlock = 2, kSubBlock = 3;
constexpr std::size_t kOwnBlockHeader = 9;  // type, units, length, modification number
constexpr std::size_t kSlotsAt = 12, kSlotBytes = 5, kSlots = 64;
constexpr std::size_t kSubDataAt = 0x150;  // after the slot table
constexpr std::uint16_t kNewModification = 1;

// The header block as Borland's engine writes it for a new, empty .MB (rparadox/empty.mb);
// the meaning of the bytes after the block's type and size is not known.
constexpr std::uint8_t kHeaderBytes[] = {0x00, 0x01, 0x00, 0x01, 0x00, 0x82, 0x73, 0x02,
                                         0x00, 0x29, 0x00, 0x00, 0x10, 0x00, 0x10, 0x00,
                                         0x10, 0x40, 0x00, 0x00, 0x08, 0x00};
constexpr std::size_t kHeaderA1At = 0x29;  // 0xA1 0x02 there in every sample .MB

std::string Stored(FieldType type, const std::string& value) {
  if (type != FieldType::Graphic) return value;
  // Images carry a prefix: 01 00 00 01 and the image's length.
  std::string s(8, '\0');
  s[0] = 1;
  s[3] = 1;
  px::PutLe32(reinterpret_cast<std::uint8_t*>(s.data()) + 4,
              static_cast<std::uint32_t>(value.size()));
  return s + value;
}

}  // namespace

BlobWriter::BlobWriter(TempFile& file) : file_(file) {
  std::vector<std::uint8_t> header(kUnit, 0);
  std::memcpy(header.data(), kHeaderBytes, sizeof kHeaderBytes);
  header[kHeaderA1At] = 0xA1;
  header[kHeaderA1At + 1] = 0x02;
  file_.Append(header.data(), header.size());
}

record::BlobRef BlobWriter::Put(FieldType type, const std::string& value) {
  const std::string data = Stored(type, value);
  if (data.size() > 0xFFFFFFFFull - kUnit)
    throw EngineError(WriterErrorCode::InvalidValue, "A BLOB value is larger than 4 GiB",
                      file_.Target().string());
  record::BlobRef ref;
  ref.length = static_cast<std::uint32_t>(data.size());
  ref.modification = kNewModification;
  // Images always get a block of their own: the only way the samples store them, and pxlib
  // reads an image in a sub-block without skipping its prefix.
  if (data.size() <= kSubBlockLimit && type != FieldType::Graphic) {
    const std::size_t units16 = (data.size() + 15) / 16;
    if (sub_.empty() || nextSlot_ < 0 || dataAt_ + units16 * 16 > kUnit) {
      if (file_.Size() > 0xFFFFF000ull)
        throw EngineError(WriterErrorCode::InvalidValue, "The .MB file would exceed 4 GiB",
                          file_.Target().string());
      FlushSubBlock();
      sub_.assign(kUnit, 0);
      sub_[0] = kSubBlock;
      px::PutLe16(sub_.data() + 1, 1);
      subOffset_ = file_.Size();
      file_.AppendZeros(kUnit);  // its place; written when full
      nextSlot_ = static_cast<int>(kSlots) - 1;
      dataAt_ = kSubDataAt;
    }
    std::uint8_t* slot = sub_.data() + kSlotsAt + kSlotBytes * static_cast<std::size_t>(nextSlot_);
    slot[0] = static_cast<std::uint8_t>(dataAt_ / 16);
    slot[1] = static_cast<std::uint8_t>(units16);
    px::PutLe16(slot + 2, kNewModification);
    slot[4] = static_cast<std::uint8_t>(data.size() - (units16 - 1) * 16);
    std::memcpy(sub_.data() + dataAt_, data.data(), data.size());
    dataAt_ += units16 * 16;
    ref.offset = static_cast<std::uint32_t>(subOffset_) | static_cast<std::uint32_t>(nextSlot_);
    --nextSlot_;
    return ref;
  }
  const std::size_t units = (kOwnBlockHeader + data.size() + kUnit - 1) / kUnit;
  if (units > 0xFFFF)
    throw EngineError(WriterErrorCode::InvalidValue,
                      "A BLOB value of " + std::to_string(value.size()) +
                          " bytes is larger than a .MB block can hold",
                      file_.Target().string());
  const std::uint64_t at = file_.Size();
  if (at > 0xFFFFFF00ull)
    throw EngineError(WriterErrorCode::InvalidValue, "The .MB file would exceed 4 GiB",
                      file_.Target().string());
  std::uint8_t head[kOwnBlockHeader] = {kOwnBlock};
  px::PutLe16(head + 1, static_cast<std::uint16_t>(units));
  px::PutLe32(head + 3, ref.length);
  px::PutLe16(head + 7, kNewModification);
  file_.Append(head, sizeof head);
  file_.Append(data.data(), data.size());
  file_.AppendZeros(units * kUnit - kOwnBlockHeader - data.size());
  ref.offset = static_cast<std::uint32_t>(at) | 0xFF;
  return ref;
}

void BlobWriter::FlushSubBlock() {
  if (sub_.empty()) return;
  file_.WriteAt(subOffset_, sub_.data(), sub_.size());
  sub_.clear();
}

void BlobWriter::Finish() {
  FlushSubBlock();
}

}  // namespace zel::engine::writer
