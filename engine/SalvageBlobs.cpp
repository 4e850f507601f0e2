#include "engine/SalvageBlobs.h"

#include <cstring>
#include <system_error>

#include "engine/EngineError.h"
#include "engine/ParadoxFormat.h"
#include "engine/PositionalFile.h"

namespace zel::engine::salvage {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kUnit = 4096;
constexpr std::uint8_t kOwnBlock = 2, kSubBlock = 3, kOwnSlot = 0xFF, kSlots = 64;
constexpr std::size_t kOwnBlockHeader = 9, kSlotsAt = 12, kSlotBytes = 5, kSubDataAt = 0x150;
constexpr std::size_t kImagePrefix = 8;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::optional<fs::path> FindMb(const fs::path& db) {
  const fs::path dir = db.parent_path().empty() ? fs::path(".") : db.parent_path();
  const std::string want = Lower(db.stem().string()) + ".mb";
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (Lower(it->path().filename().string()) == want) return it->path();
  return std::nullopt;
}

}  // namespace

BlobSource::BlobSource(const fs::path& db) {
  if (const auto mb = FindMb(db)) {
    try {
      file_ = std::make_unique<PositionalFile>(*mb);
    } catch (const EngineError&) {
      file_.reset();  // the values then count as unreadable
    }
  }
}

BlobSource::~BlobSource() = default;

std::optional<std::string> BlobSource::Value(FieldType type, const record::BlobRef& ref) const {
  if (!file_ || ref.offset == 0) return std::nullopt;
  const std::uint64_t block = ref.offset & ~std::uint32_t{0xFF};
  const std::uint8_t slot = static_cast<std::uint8_t>(ref.offset & 0xFF);
  if (block == 0 || block % kUnit != 0 || block >= file_->Size()) return std::nullopt;
  std::uint8_t head[kOwnBlockHeader] = {};
  if (file_->ReadAt(block, head, sizeof head) != sizeof head) return std::nullopt;
  const std::uint64_t units = px::Le16(head + 1);
  std::uint64_t at = 0;
  if (slot == kOwnSlot) {
    if (head[0] != kOwnBlock || px::Le32(head + 3) != ref.length ||
        kOwnBlockHeader + std::uint64_t{ref.length} > units * kUnit)
      return std::nullopt;
    at = block + kOwnBlockHeader;
  } else {
    if (head[0] != kSubBlock || slot >= kSlots) return std::nullopt;
    std::uint8_t s[kSlotBytes];
    if (file_->ReadAt(block + kSlotsAt + kSlotBytes * slot, s, sizeof s) != sizeof s)
      return std::nullopt;
    const std::uint64_t start = std::uint64_t{s[0]} * 16;
    const std::uint64_t length = s[1] == 0 ? 0 : (std::uint64_t{s[1]} - 1) * 16 + s[4];
    if (length != ref.length || start < kSubDataAt || start + length > kUnit) return std::nullopt;
    at = block + start;
  }
  std::string data(ref.length, '\0');
  if (file_->ReadAt(at, reinterpret_cast<std::uint8_t*>(data.data()), data.size()) != data.size())
    return std::nullopt;
  // Images are stored behind 01 00 00 01 and their own length.
  if (type == FieldType::Graphic && data.size() >= kImagePrefix && data[0] == 1 && data[1] == 0 &&
      data[2] == 0 && data[3] == 1 &&
      px::Le32(reinterpret_cast<const std::uint8_t*>(data.data()) + 4) ==
          data.size() - kImagePrefix)
    data.erase(0, kImagePrefix);
  return data;
}

FieldValue SalvagedValue(const FieldDef& field, const std::uint8_t* bytes, const BlobSource& mb,
                         std::uint64_t& unreadable) {
  FieldValue v = record::Decode(field, bytes);
  if (!record::IsBlob(field.type) || std::holds_alternative<std::monostate>(v)) return v;
  const record::BlobRef ref = record::DecodeBlobRef(field, bytes);
  if (ref.offset == 0) return v;
  if (auto whole = mb.Value(field.type, ref)) return *whole;
  ++unreadable;
  return v;
}

}  // namespace zel::engine::salvage
