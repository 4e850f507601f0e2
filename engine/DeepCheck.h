#pragma once
// The deep check of a Paradox table: everything an open checks (the verifier), then what an open
// never looks at and what stops the POS later: the header's own figures against the file, every
// record's field values, every BLOB pointer against the .MB, every secondary index entry against
// the records, and the .VAL file's structure. Reads only; memory stays bounded whatever the size
// of the table.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zel::engine {

// The deep check's own code, beside the verifier's (EngineError.h): a record's BLOB pointer that
// disagrees with the .MB, as the Borland engine reports it.
namespace DeepErrorCode {
inline constexpr int BlobModified = 0x3302;  // "BLOB has been modified"
}  // namespace DeepErrorCode

// Damage makes data or an index wrong (the table is damaged); a note is something the engine's
// open accepts with no record or entry wrong (spare blocks, an unmaintained index, a part not
// checked), listed after the damage and leaving the table clean.
enum class DeepSeverity { Damage, Note };

// One finding: the engine's error code and text (0 for a note that is no engine error), and
// where it is.
struct DeepProblem {
  int code = 0;
  std::string file;          // host path of the file concerned
  std::uint32_t block = 0;   // block of that file (1-based), 0 when not in a block
  std::uint32_t record = 0;  // record or entry in the block (1-based), 0 when not one record
  std::string text;          // "Corrupt file - other than header (...)"
  DeepSeverity severity = DeepSeverity::Damage;

  // "FILE, block B, record R: TEXT" (the place as far as it is known).
  std::string Describe() const;
};

inline constexpr std::size_t kDeepCheckProblemLimit = 20;

struct DeepCheckResult {
  std::vector<DeepProblem> problems;  // damage: at most kDeepCheckProblemLimit, in the order found
  bool limitReached = false;          // the check stopped at the limit; there may be more
  std::uint64_t records = 0;          // records whose fields were checked
  std::uint64_t blobPointers = 0;     // BLOB descriptors that point into the .MB
  std::uint64_t indexEntries = 0;     // secondary index entries compared with the records
  // Notes, each with severity Note: what the open accepts and no record or entry is wrong for,
  // and what was not checked and why. At most kDeepCheckProblemLimit.
  std::vector<DeepProblem> notes;

  bool Clean() const { return problems.empty(); }
};

struct DeepCheckLimits {
  // Secondary index entries and records compared at a time when they disagree: about 16 bytes
  // each, 8 MiB at the default. Each batch costs one more pass over the data and index files.
  std::size_t pairsPerBatch = std::size_t{1} << 19;
};

// Checks the table at `dbFile` (the .DB host path) and the files beside it. Never throws for a
// damaged table: every fault becomes a problem. Raises EngineError only when `dbFile` cannot be
// read at all (missing, not a regular file, no permission).
DeepCheckResult DeepCheckTable(const std::filesystem::path& dbFile,
                               const DeepCheckLimits& limits = {});

}  // namespace zel::engine
