#pragma once
// BLOB values read back from the .MB beside a damaged table, so that a salvaged table keeps
// them whole and not only the leader its records hold. The .MB is only read.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "engine/RecordEncoding.h"

namespace zel::engine {
class PositionalFile;
}

namespace zel::engine::salvage {

class BlobSource {
 public:
  // Opens the .MB beside `db` (found without regard to case); none when there is no such file
  // or it cannot be opened: every value then reads as unreadable.
  explicit BlobSource(const std::filesystem::path& db);
  ~BlobSource();
  BlobSource(const BlobSource&) = delete;
  BlobSource& operator=(const BlobSource&) = delete;

  bool Present() const noexcept { return file_ != nullptr; }
  // The value `ref` points at, for a field of type `type` (Graphic: without the image prefix),
  // or nothing when its block is not the kind the pointer names, or its length or data do not
  // fit. `ref.offset` must not be 0 (such values are in the leader).
  std::optional<std::string> Value(FieldType type, const record::BlobRef& ref) const;

 private:
  std::unique_ptr<PositionalFile> file_;
};

// The value of field `field` in a salvaged record: as Decode gives it, and for a BLOB field
// whose value is in the .MB, the whole value from `mb`. When that cannot be read, the leader the
// record holds stands in for it and `unreadable` counts it.
FieldValue SalvagedValue(const FieldDef& field, const std::uint8_t* bytes, const BlobSource& mb,
                         std::uint64_t& unreadable);

}  // namespace zel::engine::salvage
