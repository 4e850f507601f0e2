#pragma once
// Record salvage: reads every record it can from a damaged table and writes them to a new table
// (through the project's writer, each record with its own bytes) and to a CSV file. The damaged
// files are only read. Blocks are scanned by position, not only along the chain, so a broken
// link or one wrecked block loses only that block's records.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/TableDefinition.h"

namespace zel::engine {

namespace SalvageErrorCode {
inline constexpr int OutputExists = 0xE101;  // the new table or one of its CSV files exists
inline constexpr int NoStructure = 0xE102;   // the header cannot be read and no template given
}  // namespace SalvageErrorCode

struct SalvageOptions {
  // A healthy table of the same kind whose structure is used when the damaged header cannot be
  // read (empty: none).
  std::filesystem::path like;
  // Reads and checks every record and reports the counts, but writes nothing (no output may
  // exist either way).
  bool dryRun = false;
  // What the new table gets beyond what the records and the header give: its secondary indexes,
  // its block size (0: the writer's choice) and its definition counter, which a .VAL names. A
  // rebuild keeps the table's own.
  std::vector<SecondaryIndexDef> indexes;
  int blockSize = 0;
  int definitionCount = 0;  // the header's table-definition counter (0: a new table's)
  // Keyed tables: where the records left out for a repeated key are written, as CSV (empty:
  // they are only counted). The file is made only when there is such a record.
  std::filesystem::path duplicatesCsv;
};

struct SalvageReport {
  std::uint64_t recovered = 0;         // records written to the new table and its CSV
  std::uint64_t outsideChain = 0;      // records of valid blocks left outside, in .outside.csv
  std::uint64_t dropped = 0;           // records whose fields cannot be decoded
  std::uint64_t duplicated = 0;        // keyed tables: records left out for a repeated key
  std::uint64_t unreadableBlocks = 0;  // blocks with no plausible header or no readable record
  std::vector<std::uint32_t> unreadableBlockNumbers;  // those blocks, by number
  std::uint64_t joinedBlocks = 0;  // blocks outside the chain taken into the table
  std::uint64_t blocksInFile = 0;
  // Blocks the damaged header counts (0 when unreadable): those above blocksInFile were cut off.
  std::uint64_t headerBlocks = 0;
  bool lastBlockShort = false;  // the file ends inside its last block
  // BLOB values whose .MB block could not be read (missing or wrecked): the new table holds
  // the leader their record kept.
  std::uint64_t blobsUnreadable = 0;
  std::uint32_t headerRecords = 0;  // the damaged header's record count (0 when unreadable)
  bool headerReadable = false;
  bool chainIntact = false;     // the chain runs to its end and holds the header's count
  bool hadRecords = false;      // the table held records (header count, or blocks when unreadable)
  bool tableWritten = false;    // the new .DB (and .PX when keyed) was written
  std::string csvOnlyReason;    // why only the CSV was written, when it was
  std::string headerProblem;    // why the damaged header could not be read
  std::filesystem::path table;  // the new .DB, when written
  std::filesystem::path csv;    // the new .csv, when written
  std::filesystem::path outsideCsv;     // the .outside.csv, when there were such records
  std::filesystem::path duplicatesCsv;  // the records left out for a repeated key, when any
};

// The CSV files that go with a new table: NEW.csv and NEW.outside.csv beside NEW.DB.
std::filesystem::path SalvageCsvPath(const std::filesystem::path& newDb);
std::filesystem::path SalvageOutsideCsvPath(const std::filesystem::path& newDb);

// Salvages `damaged` (a .DB host path) into `newDb`. Refuses (SalvageErrorCode::OutputExists)
// when `newDb`, its .PX, its .MB or its CSV files exist. Raises EngineError naming the file when
// the damaged table cannot be read at all, its header is unreadable and no usable template was
// given, or an output cannot be written. When the table held records and none could be read,
// nothing is written and the report says so (recovered 0, hadRecords true).
SalvageReport SalvageTable(const std::filesystem::path& damaged, const std::filesystem::path& newDb,
                           const SalvageOptions& options = {});

}  // namespace zel::engine
