#pragma once
// A technician's rebuild of one table in place: every record salvage can read goes into a new
// table of the same structure (level, block size, code page, sort order, fields, key, every
// secondary index), which replaces the old files the way a restore does: staged, synced,
// renamed, the data file last. The old files are kept first; the .VAL stays as it is.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace zel::technician {

// A rebuild that was not begun, with nothing changed: the reason and the file it concerns.
class RebuildRefused : public std::runtime_error {
 public:
  RebuildRefused(const std::string& reason, std::string file)
      : std::runtime_error(reason), file_(std::move(file)) {}
  const std::string& File() const { return file_; }

 private:
  std::string file_;
};

struct RebuildOptions {
  // A healthy table of the same kind, whose structure serves when the header is destroyed.
  std::filesystem::path like;
  // The time text that names the folder of the kept files ("20261211-081500"); empty: now.
  std::string stamp;
};

struct RebuildOutcome {
  // Where the structure came from: "the table", the template's path, or the catalogue's
  // definition of FOLDER\TABLE.
  std::string structureFrom;
  std::uint64_t kept = 0;                 // records in the new table
  std::uint64_t lost = 0;                 // records of the old table not in it (nor in KEYVIOL.csv)
  bool lostKnown = true;                  // false when the old header, which counts them, is gone
  std::uint64_t keyViolations = 0;        // records left out for a repeated key, in KEYVIOL.csv
  std::uint64_t outsideChain = 0;         // deleted or orphaned records, in the kept .outside.csv
  std::vector<std::uint32_t> lostBlocks;  // data blocks that gave no record
  // Blocks the old header counts that a file cut short lost wholly or in part: first and last,
  // or 0.
  std::uint32_t cutOffFirst = 0, cutOffLast = 0;
  std::uint64_t dropped = 0;         // records in readable blocks whose fields could not be decoded
  std::vector<std::string> indexes;  // the secondary indexes rebuilt, by name
  bool primaryIndex = false;         // a .PX was written (keyed table)
  std::filesystem::path keptFolder;  // the old files, the CSV files of the salvage
  std::filesystem::path keyViolCsv;  // KEYVIOL.csv when there were key violations
  // An earlier rebuild of this table stopped in its swap (a crash, a kill): this call finished
  // that swap and rebuilt nothing more.
  bool finishedInterrupted = false;
};

// Rebuilds the table `db` (a .DB host path) in place. Raises RebuildRefused, with nothing
// changed, when the table cannot be rebuilt faithfully, ZelPos runs, a process holds one of
// its files, or no record can be read of a table that had records; raises std::runtime_error
// naming the file when a step fails (the live table is then the old one or, once the swap has
// begun, is completed by the next call).
RebuildOutcome RebuildTable(const std::filesystem::path& db, const RebuildOptions& options = {});

// The folder that holds a rebuild's staged files until the swap is over: beside the table.
std::filesystem::path RebuildStagingFolder(const std::filesystem::path& db);

}  // namespace zel::technician
