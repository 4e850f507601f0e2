#pragma once
// The .MB file and the BLOB pointers of a table's records. The .MB is a header block (type 0)
// followed by blocks of whole 4 KiB units: type 2 holds one BLOB, type 3 up to 64 small ones in
// slots, type 4 is free. A record's BLOB field ends in a 10-byte descriptor: the block's offset
// with the slot number (0xFF: a type 2 block) in its low byte, the length and the modification
// number; offset 0 means the value lies wholly in the field's leader.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/DeepCheckFile.h"
#include "engine/DeepCheckProblems.h"

namespace zel::engine::deep {

class BlobFile {
 public:
  // Opens the .MB at `path` and walks its blocks, adding what is wrong with it to `problems`;
  // a missing header block, which the open reports too, goes to `fallback`.
  BlobFile(const std::filesystem::path& path, Problems& problems, Problems& fallback);

  // Checks the descriptor at the end of a BLOB field of `fieldBytes` bytes. False with the fault
  // in `why`; `intoFile` tells whether the value lies in the .MB rather than in the leader.
  bool CheckPointer(const std::uint8_t* field, std::size_t fieldBytes, std::string& why,
                    bool& intoFile);

 private:
  bool IsBlockStart(std::uint64_t offset) const;

  std::unique_ptr<ReadOnlyFile> file_;
  std::vector<std::uint64_t> starts_;  // one bit per 4 KiB unit: a block starts there
  std::uint64_t walkedTo_ = 0;         // the walk knows the blocks below this offset
  std::uint64_t cachedOffset_ = ~std::uint64_t{0};
  std::vector<std::uint8_t> cached_;  // the head of the last block looked at
};

}  // namespace zel::engine::deep
