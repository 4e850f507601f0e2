#pragma once
// What a restore from a shift backup took away: the restored table compared with the records
// salvage read from the damaged one, counted in the report and listed in the run's
// Lost-by-restore.csv for the technician (the lists and dialogs stay as they are).
#include <string>
#include <vector>

#include "engine/TableDefinition.h"
#include "report/RunReport.h"

namespace zel::platform {
class WindowsFiles;
}

namespace zel::repair {

// The differences between the damaged table's salvaged records and the restored table's, by key
// (a heap: by whole record, each copy counted).
struct RecordDifferences {
  std::vector<std::size_t> onlyDamaged;                        // indexes into the damaged records
  std::vector<std::pair<std::size_t, std::size_t>> differing;  // (damaged, restored)
  std::vector<std::size_t> onlyBackup;                         // indexes into the restored records
};
RecordDifferences CompareRecords(const std::vector<engine::Record>& damaged,
                                 const std::vector<engine::Record>& restored, int keyFields);

// Compares the live (restored) table with the salvaged copy `record.salvage` names, fills
// `record.lostByRestore` and appends its rows to `runFolder`Lost-by-restore.csv, with one line on
// standard error. Does nothing when salvage wrote no table; a comparison that fails is told on
// standard error and changes nothing else.
void NoteLostByRestore(platform::WindowsFiles& files, const std::string& folder,
                       const std::string& table, const std::string& runFolder,
                       report::RepairRecord& record);

}  // namespace zel::repair
