#include "engine/DeepCheckBlobs.h"

#include <algorithm>

#include "engine/DeepCheck.h"
#include "engine/EngineError.h"

namespace zel::engine::deep {
namespace {

constexpr std::uint64_t kUnit = 4096;
constexpr std::uint8_t kTypeHeader = 0;
constexpr std::uint8_t kTypeSingle = 2;
constexpr std::uint8_t kTypeSlots = 3;
constexpr std::uint8_t kTypeFree = 4;
constexpr std::size_t kSingleHead = 9;  // type, units, length, modification number
constexpr std::size_t kSlotTable = 12;  // the 64 slots of a type 3 block start here
constexpr std::size_t kSlotBytes = 5;   // start / 16, length in 16-byte units, mod, length % 16
constexpr std::size_t kSlots = 64;
constexpr std::size_t kSlotsHead = kSlotTable + kSlots * kSlotBytes;
constexpr std::uint8_t kSingleIndex = 0xFF;
// Descriptors hold 32-bit offsets: blocks further on cannot be pointed at.
constexpr std::uint64_t kAddressable = std::uint64_t{1} << 32;

std::string Off(std::uint64_t v) {
  return std::to_string(v);
}

}  // namespace

BlobFile::BlobFile(const std::filesystem::path& path, Problems& problems, Problems& fallback)
    : file_(std::make_unique<ReadOnlyFile>(path)),
      starts_(static_cast<std::size_t>(kAddressable / kUnit / 64), 0) {
  const std::string name = file_->Name();
  const std::uint64_t size = file_->Size();
  std::uint8_t head[3] = {};
  if (file_->ReadAt(0, head, sizeof head) < sizeof head || head[0] != kTypeHeader ||
      px::Le16(head + 1) == 0 || size < kUnit) {
    fallback.Add(ErrorCode::CorruptBlobFile, name, 0, 0,
                 With(kTextCorruptBlob, "no valid header block"));
    return;
  }
  std::uint64_t at = px::Le16(head + 1) * kUnit;
  while (at < size) {
    if (at % kUnit == 0 && at < kAddressable) starts_[at / kUnit / 64] |= 1ull << (at / kUnit % 64);
    if (file_->ReadAt(at, head, sizeof head) < sizeof head) break;
    const std::uint16_t units = px::Le16(head + 1);
    if ((head[0] != kTypeSingle && head[0] != kTypeSlots && head[0] != kTypeFree) || units == 0) {
      problems.Add(ErrorCode::CorruptBlobFile, name, 0, 0,
                   With(kTextCorruptBlob, "block at offset " + Off(at) + " has type " +
                                              Off(head[0]) + " and " + Off(units) + " units"));
      walkedTo_ = at;
      return;
    }
    if (at + units * kUnit > size) {
      problems.Add(
          ErrorCode::CorruptBlobFile, name, 0, 0,
          With(kTextCorruptBlob, "block at offset " + Off(at) + " of " + Off(units * kUnit) +
                                     " bytes runs past the end of "
                                     "the file (" +
                                     Off(size) + " bytes)"));
      walkedTo_ = at + 1;  // its start is known, its end is not
      return;
    }
    at += units * kUnit;
  }
  if (at != size) {
    problems.Add(
        ErrorCode::CorruptBlobFile, name, 0, 0,
        With(kTextCorruptBlob, "the file ends inside a block header (" + Off(size) + " bytes)"));
  }
  walkedTo_ = std::min(at, size);
}

bool BlobFile::IsBlockStart(std::uint64_t offset) const {
  if (offset >= kAddressable) return false;
  return (starts_[offset / kUnit / 64] >> (offset / kUnit % 64)) & 1;
}

bool BlobFile::CheckPointer(const std::uint8_t* field, std::size_t fieldBytes, std::string& why,
                            bool& intoFile) {
  const std::uint8_t* d = field + fieldBytes - px::kBlobDescriptorBytes;
  const std::uint32_t pointer = px::Le32(d);
  const std::uint32_t length = px::Le32(d + 4);
  const std::uint16_t mod = px::Le16(d + 8);
  const std::size_t leader = fieldBytes - px::kBlobDescriptorBytes;
  intoFile = pointer != 0;
  if (pointer == 0) {
    if (length > leader) {
      why = "a BLOB of " + Off(length) + " bytes has no block in the .MB and its leader holds " +
            Off(leader);
      return false;
    }
    return true;
  }
  const std::uint64_t block = pointer & ~std::uint32_t{0xFF};
  const std::uint8_t index = static_cast<std::uint8_t>(pointer & 0xFF);
  const std::uint64_t size = file_->Size();
  const std::string where = "BLOB pointer to offset " + Off(block);
  if (block < kUnit || block % kUnit != 0) {
    why = where + " is not a block of the .MB";
    return false;
  }
  if (block + kUnit > size) {
    why = where + " lies past the end of the .MB (" + Off(size) + " bytes)";
    return false;
  }
  if (block < walkedTo_ && !IsBlockStart(block)) {
    why = where + " points inside a block of the .MB";
    return false;
  }
  if (cachedOffset_ != block) {
    cached_.assign(kSlotsHead, 0);
    cached_.resize(file_->ReadAt(block, cached_.data(), kSlotsHead));
    cachedOffset_ = block;
  }
  if (cached_.size() < kSlotsHead) {
    why = where + " lies past the end of the .MB";
    return false;
  }
  const std::uint8_t type = cached_[0];
  const std::uint64_t units = px::Le16(cached_.data() + 1);
  if (index == kSingleIndex) {
    if (type != kTypeSingle) {
      why = where + " expects a single-BLOB block (type 2), the block has type " + Off(type);
      return false;
    }
    const std::uint32_t stored = px::Le32(cached_.data() + 3);
    const std::uint16_t storedMod = px::Le16(cached_.data() + 7);
    if (stored != length) {
      why = where + ": the record says " + Off(length) + " bytes, the block " + Off(stored);
      return false;
    }
    if (storedMod != mod) {
      why = where + ": modification number " + Off(mod) + " in the record, " + Off(storedMod) +
            " in the block";
      return false;
    }
    if (kSingleHead + std::uint64_t{length} > units * kUnit || block + units * kUnit > size) {
      why = where + ": " + Off(length) + " bytes do not fit the block or the file";
      return false;
    }
    return true;
  }
  if (index >= kSlots) {
    why = where + " names slot " + Off(index) + "; a block has 64";
    return false;
  }
  if (type != kTypeSlots) {
    why = where + " expects a block of small BLOBs (type 3), the block has type " + Off(type);
    return false;
  }
  const std::uint8_t* slot = cached_.data() + kSlotTable + kSlotBytes * index;
  if (slot[1] == 0) {
    why = where + ": slot " + Off(index) + " is empty";
    return false;
  }
  const std::uint64_t start = std::uint64_t{slot[0]} * 16;
  const std::uint64_t stored = (std::uint64_t{slot[1]} - 1) * 16 + slot[4];
  const std::uint16_t storedMod = px::Le16(slot + 2);
  if (stored != length) {
    why = where + ", slot " + Off(index) + ": the record says " + Off(length) +
          " bytes, the slot " + Off(stored);
    return false;
  }
  if (storedMod != mod) {
    why = where + ", slot " + Off(index) + ": modification number " + Off(mod) +
          " in the record, " + Off(storedMod) + " in the slot";
    return false;
  }
  if (start < kSlotsHead || start + length > units * kUnit) {
    why = where + ", slot " + Off(index) + ": data outside its block";
    return false;
  }
  return true;
}

}  // namespace zel::engine::deep
