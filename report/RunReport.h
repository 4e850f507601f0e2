#pragma once
// What one run found and did, for the technician who looks at the station afterwards: filled by
// the run as it goes, written as JSON by ReportWriter. Plain data, no toolkit.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zel::report {

// 2: "kind" added; 3: kept files, manifests and what a restore lost per repaired table, and the
// technician's kinds "put-back", "undo" and "rebuild".
inline constexpr int kSchema = 3;

// What a report is of: the cashier's run, a check, or one of the technician's commands.
enum class ReportKind { Run, Check, PutBack, Undo, Rebuild };

// A live process: its id and its command line.
struct ProcessRef {
  long pid = 0;
  std::string command;
};

enum class PosWindowState { Absent, Closed, StillThere };

enum class LockAction {
  Deleted,  // it was there and is gone
  Absent,   // it was not there
  Failed,   // it was there and could not be deleted
  Reported  // it is there and was left alone (a check, or after Step 1 had stopped)
};

struct LockFileRecord {
  std::string path;  // Windows path
  LockAction action = LockAction::Absent;
  std::optional<ProcessRef> heldBy;  // the live process holding it or having it open
};

struct Step1Record {
  bool ok = false;
  PosWindowState posWindow = PosWindowState::Absent;
  std::vector<LockFileRecord> lockFiles;
};

// An engine error as the test met it.
struct ErrorRecord {
  std::optional<int> code;  // none when the failure was not the engine's
  std::string text;
  std::string file;  // Windows path when on drive C:, else as the engine named it
};

// One open attempt of a table test; index "" is the primary.
struct IndexRecord {
  std::string index;
  bool usable = false;
  std::optional<ErrorRecord> error;
};

enum class RepairKind {
  ReIndex,   // indexes rebuilt (and, when that was not enough, a sound table kept as it is)
  NewEmpty,  // replaced by a new empty table
  Restore,   // replaced by a shift backup generation
  PutBack,   // salvaged records appended to the live table by a technician
  Undo,      // a run's table files put back as they were
  Rebuild    // rebuilt in place keeping the readable records
};

// A file a repair kept before it deleted or replaced it: its name in the data folder and the
// Windows path of the copy (a second name of the same file, or a copy).
struct KeptFile {
  std::string name;  // "ATTLOG.DB"
  std::string path;
};

// One file a repair left in a table's place, as it left it.
struct ManifestEntry {
  std::string name;  // "ATTLOG.DB"
  std::uint64_t size = 0;
  std::string sha256;
};

// A restored table compared with what salvage read from the damaged one, by key (a heap: by
// whole record).
struct LostByRestoreRecord {
  std::uint64_t onlyDamaged = 0;  // records the restore took away
  std::uint64_t differing = 0;    // same key, other values: the damaged table's values are lost
  std::uint64_t onlyBackup = 0;   // records the restore brought back that the damaged one lacked
  std::string path;               // Windows path of Lost-by-restore.csv
};

// What a put-back added to a live table.
struct PutBackRecord {
  std::string source;                // Windows path of the salvaged table the records came from
  std::uint64_t added = 0;           // records appended
  std::uint64_t alreadyPresent = 0;  // identical records present already, not added again
  std::uint64_t keyViolations = 0;   // keyed: records whose key is present, in KEYVIOL.csv
  std::optional<std::string> keyViolPath;  // Windows path of KEYVIOL.csv, when written
};

// What salvage read from a table's data file before a repair deleted it.
struct SalvageRecord {
  std::uint64_t recovered = 0;         // records in the salvaged table and its CSV
  std::uint64_t outsideChain = 0;      // records of valid blocks outside the chain (.outside.csv)
  std::uint64_t dropped = 0;           // records whose fields could not be decoded
  std::uint64_t unreadableBlocks = 0;  // blocks with nothing readable
  std::string path;  // Windows path of the salvaged .DB, or of the .csv when only that was made
};

// The repair of one table. New facts about a repair go here as further members, each with a
// default that means "not done", and a line in the writer.
struct RepairRecord {
  RepairKind kind = RepairKind::ReIndex;
  bool usable = false;                    // the outcome: the table usable afterwards
  std::optional<std::string> generation;  // the backup generation restored from
  std::optional<std::string> savedTo;     // where the damaged files were kept (Windows folder)
  std::optional<SalvageRecord> salvage;   // the records salvaged from the data file, if any
  // The table's files as they were before the repair touched them, each kept once (the first
  // keeping wins: a table re-indexed and then replaced keeps its old indexes from the re-index).
  std::vector<KeptFile> keptFiles;
  // Names of the table's files the repair deleted, replaced or created; a name here that is not
  // kept did not exist before.
  std::vector<std::string> touchedFiles;
  // Every file of the table the repair left in their place (an undo checks them before it
  // puts the kept files back).
  std::vector<ManifestEntry> manifest;
  std::optional<LostByRestoreRecord> lostByRestore;
  std::optional<PutBackRecord> putBack;
};

struct TableRecord {
  std::string folder;  // as the lists name it
  std::string table;
  std::vector<IndexRecord> indexes;  // the first test's
  std::optional<RepairRecord> repair;
  bool skipped = false;   // the guard skipped it after an earlier table stayed unusable
  bool retested = false;  // a check: the first test failed, `indexes` are the second test's
};

struct RunReport {
  // Unset: "run", or "check" when checkOnly.
  std::optional<ReportKind> kind;
  // The technician's commands: the report of the run they worked on (a host path).
  std::optional<std::string> sourceReport;
  std::string program;
  std::string version;
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point finished;
  std::string till;
  bool masterTill = false;
  int exitStatus = 0;
  bool checkOnly = false;
  Step1Record step1;
  std::vector<TableRecord> tables;
  std::optional<std::string> damagedFilesFolder;  // Windows folder of this run's kept files
  // A check: whether a live process (the POS window, a held lock file) was using the tables
  // while they were tested, so a failure may be a table caught mid-write. None for a run.
  std::optional<bool> tablesInUse;
};

}  // namespace zel::report
