// Step 2: every catalogue table, folder by folder, each failed one sent down its repair path.
#include <string>

#include "catalogue/Catalogue.h"
#include "engine/Verifier.h"
#include "platform/DriveMapping.h"
#include "repair/Leftovers.h"
#include "repair/TableFiles.h"
#include "run/MainScreen.h"

namespace {

constexpr const char* kPosSettings = "c:\\Zelpos\\Zelpos.ini";
constexpr const char* kMasterTill = "FC  1 - A";

struct FolderBlock {
  const char* folder;  // as passed to the test and the repair ("History" in mixed case)
  const char* heading;
  const char* labelText;
  int progressMaximum;
  bool masterOnly;
  bool guarded;  // skipped table by table once a table stayed unusable
};

constexpr FolderBlock kBlocks[] = {
    {"DISPDATA", "Testing Dispdata Files.......",
     "Please wait while checking Display Folder files....", 2, false, false},
    {"CONFIGDATA", "Testing Configdata Files.......",
     "Please wait while checking Configdata Folder files....", 7, true, false},
    {"History", "Testing History Files.......",
     "Please wait while checking History Folder files....", 2, false, true},
    {"TEMPDATA", "Testing TempData Files.......",
     "Please wait while checking Tempdata Folder files....", 28, false, true},
    {"PERMDATA", "Testing PermData Files.......",
     "Please wait while checking Permdata Folder files....", 23, true, true},
};

// A repair's last test opens the table under its primary index only; the run's summary must
// still not call a table usable while one of its named indexes is not.
bool NamedIndexesUsable(const std::string& folder, const zel::catalogue::TableEntry& entry) {
  const auto dataFile =
      zel::platform::MapWindowsPath(zel::repair::LivePath(folder, std::string(entry.table), ".DB"));
  for (const std::string_view index : entry.namedIndexes) {
    if (index.empty()) continue;
    try {
      zel::engine::VerifyTable(dataFile, std::string(index));
    } catch (const std::exception& error) {
      zel::repair::TellTechnician(folder + "\\" + std::string(entry.table) + " index " +
                                  std::string(index) + " is unusable: " + error.what());
      return false;
    } catch (...) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool TForm1::ReadTill() {
  Report.till = platform().ini.ReadString(kPosSettings, "Main", "TillNumber", "");
  Report.masterTill = Report.till == kMasterTill;
  tillRead_ = true;
  return Report.masterTill;
}

void TForm1::CheckAllTables() {
  // A check changes nothing, so it tests with whatever an interrupted run left; it tests every
  // table, repairs none and so has no reason to skip one.
  const bool checkOnly = Report.checkOnly;
  // Whatever an interrupted run left half done is put right before any table is tested.
  if (!checkOnly) zel::repair::ClearLeftovers();

  const bool masterTill = ReadTill();

  Summary.tablesTested = 0;
  Summary.tablesUnusable = 0;
  Summary.tablesSkipped = 0;
  Report.tables.clear();

  TablesOk = true;
  AddLine(lst2, "Step 2");  // shown together with the first heading

  for (const FolderBlock& block : kBlocks) {
    if (block.masterOnly && !masterTill) continue;

    const std::string folder = block.folder;
    AddLine(lst2, block.heading);
    SetLabelText(block.labelText);
    SetProgressPosition(1);
    SetProgressMaximum(block.progressMaximum);
    if (folder == "CONFIGDATA") TablesOk = true;

    for (const zel::catalogue::TableEntry* entry : zel::catalogue::FolderTables(folder)) {
      const std::string table(entry->table);
      Report.tables.push_back({folder, table, {}, std::nullopt, false});
      if (block.guarded && !TablesOk && !checkOnly) {
        Report.tables.back().skipped = true;
        ++Summary.tablesSkipped;
        continue;
      }
      ++Summary.tablesTested;
      const bool passed = TestTable(folder, table, "", std::string(entry->namedIndexes[0]),
                                    std::string(entry->namedIndexes[1]), "");
      Report.tables.back().indexes = lastTest_;
      Report.tables.back().retested = lastRetested_;
      if (passed) continue;
      if (checkOnly) {
        ++Summary.tablesUnusable;
        continue;
      }
      // Each repair step fills in the record as it goes; the outcome is judged here.
      auto& repair = Report.tables.back().repair.emplace();
      repairRecord_ = &repair;
      if (entry->repairPath == zel::catalogue::RepairPath::Transient)
        RepairTransientTable(folder, table);
      else
        RepairKeptTable(folder, table);
      repairRecord_ = nullptr;
      // The repair ends with a test of its own, which leaves its outcome in TablesOk.
      repair.usable = TablesOk && NamedIndexesUsable(folder, *entry);
      // What the repair left in the old files' place, for an undo to check before it acts.
      if (!repair.touchedFiles.empty())
        repair.manifest = zel::repair::ManifestOf(platform().files, folder, table);
      if (!repair.usable) ++Summary.tablesUnusable;
    }

    AddLine(lst2, std::string(block.heading) + "Done");
  }

  if (masterTill) MakeLastLineCurrent(lst2);
}
