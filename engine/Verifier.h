#pragma once
// Verifies a Paradox table on host paths: the data file, its BLOB and validity files and one
// index. Used by Table::Open (after the lock checks) and by zelcheck. Reads only; never writes,
// locks or creates a file. Memory stays bounded whatever the table size.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zel::engine {

// Sees each block of a data file's chain (.DB, or a secondary index's .X) as the verifier walks
// it, after the block passed its checks: for a caller that reads the records as well, so that
// the file is read once. `records` holds `count` records and stays readable for 8 bytes past
// them; `next` is the block's link to the next one (0 at the end of the chain). The verifier may
// stop at a fault after any block, and may walk a chain again from its start.
class ChainObserver {
 public:
  virtual ~ChainObserver() = default;
  virtual void Block(std::uint32_t number, std::uint32_t next, std::uint32_t count,
                     const std::uint8_t* records) = 0;
};

// Raises EngineError when the table at `dbFile` (the .DB host path) or the index named
// `indexName` (empty: the primary index) is unusable; returns when both are usable. With
// `dataBlocks`, the blocks of the .DB's chain are shown to it as they are walked.
void VerifyTable(const std::filesystem::path& dbFile, const std::string& indexName,
                 ChainObserver* dataBlocks = nullptr);

// Raises EngineError when the data file alone is unusable: missing, a damaged header, a broken
// block chain or free list, or (where the collation is known) keys out of order. Indexes, BLOB
// and validity files are not looked at, so a table that fails only on them passes: a repair
// uses this to tell a table whose records are still sound from one that must be replaced.
void VerifyDataFile(const std::filesystem::path& dbFile, ChainObserver* dataBlocks = nullptr);

// Raises EngineError when the secondary index in `xFile` (an .Xnn or .XGn beside `dbFile`) and
// its tree are unusable, with the checks VerifyTable makes of a secondary index, but without
// walking the data file and the primary index again: for callers that verified the table under
// its primary index already and go through all of its indexes.
// With `entryBlocks`, the blocks of the .X's chain are shown to it as they are walked.
void VerifySecondaryIndexFile(const std::filesystem::path& dbFile,
                              const std::filesystem::path& xFile,
                              ChainObserver* entryBlocks = nullptr);

struct FieldInfo {
  std::string name;
  char type = '?';  // Paradox type letter: A N $ S I D T @ L + # Y M B F O G
  int size = 0;     // bytes in a record (BCD: 17); Alpha/Bytes/BLOB: the declared size
  bool descending = false;
};

struct SecondaryIndexInfo {
  std::filesystem::path xFile;
  std::filesystem::path yFile;  // empty when missing
  std::string name;             // stored name (.XGn) or the field name (.Xnn)
  bool maintained = false;
  bool caseInsensitive = false;
  std::vector<FieldInfo> fields;  // the indexed fields of the table
  std::string problem;            // non-empty when its header cannot be read
};

struct TableInfo {
  std::string level;  // "3.0", "3.5", "4", "5", "7"
  int version = 0;    // byte 0x39
  int codePage = 0;   // 0 when the level has none
  int sortOrder = 0;  // byte 0x29
  std::string sortOrderId;
  std::uint32_t numRecords = 0;
  int blockSize = 0;
  bool keyed = false;
  bool encrypted = false;
  std::vector<FieldInfo> fields;
  int keyFields = 0;
  std::vector<SecondaryIndexInfo> indexes;
};

// Reads the header of `dbFile` and lists the secondary indexes found beside it. Raises
// EngineError when the data file is missing or its header is unusable.
TableInfo DescribeTable(const std::filesystem::path& dbFile);

// The table's files that exist beside `dbFile` (data, primary index, BLOB, .VAL and every
// secondary index file), matched without regard to case.
std::vector<std::filesystem::path> ExistingTableFiles(const std::filesystem::path& dbFile);

}  // namespace zel::engine
