#pragma once
// The .MB file the writer makes beside a table with BLOB fields: a header block, values of up
// to kSubBlockLimit bytes packed into shared sub-blocks of 64 slots, longer ones in blocks of
// their own, all in whole 4 KiB units.
#include <cstdint>
#include <string>

#include "engine/RecordEncoding.h"
#include "engine/WriterIO.h"

namespace zel::engine::writer {

class BlobWriter {
 public:
  // Stored values up to this size share a sub-block (Borland's own choice is not known: its
  // files hold values of up to 726 bytes in sub-blocks and of 9 626 and more in own blocks).
  static constexpr std::size_t kSubBlockLimit = 2048;

  // Appends the header block to `file`, which must be empty.
  explicit BlobWriter(TempFile& file);
  // Stores `value` of a field of type `type` and returns its descriptor. Graphic values are
  // stored in blocks of their own, behind the 8-byte prefix Borland's engine gives images (the
  // descriptor's length counts it).
  record::BlobRef Put(FieldType type, const std::string& value);
  // Writes the sub-block still being filled.
  void Finish();

 private:
  void FlushSubBlock();
  TempFile& file_;
  std::vector<std::uint8_t> sub_;  // the sub-block being filled, empty when none
  std::uint64_t subOffset_ = 0;
  int nextSlot_ = 0;        // slots are handed out from 63 down, as Borland's engine does
  std::size_t dataAt_ = 0;  // where the next value goes in the sub-block
};

}  // namespace zel::engine::writer
