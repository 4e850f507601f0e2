// Step 2: every catalogue table, folder by folder, each failed one sent down its repair path.
#include <string>

#include "catalogue/Catalogue.h"
#include "engine/Verifier.h"
#include "platform/DriveMapping.h"
#include "repair/Leftovers.h"
#include "repair/TableFiles.h"
#include "ui/MainScreen.h"

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

void TForm1::CheckAllTables() {
  // Whatever an interrupted run left half done is put right before any table is tested.
  zel::repair::ClearLeftovers();

  const std::string tillNumber = platform().ini.ReadString(kPosSettings, "Main", "TillNumber", "");
  const bool masterTill = tillNumber == kMasterTill;

  Summary.tablesTested = 0;
  Summary.tablesUnusable = 0;
  Summary.tablesSkipped = 0;

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
      if (block.guarded && !TablesOk) {
        ++Summary.tablesSkipped;
        continue;
      }
      const std::string table(entry->table);
      ++Summary.tablesTested;
      if (!TestTable(folder, table, "", std::string(entry->namedIndexes[0]),
                     std::string(entry->namedIndexes[1]), "")) {
        if (entry->repairPath == zel::catalogue::RepairPath::Transient)
          RepairTransientTable(folder, table);
        else
          RepairKeptTable(folder, table);
        // The repair ends with a test of its own, which leaves its outcome in TablesOk.
        if (!TablesOk || !NamedIndexesUsable(folder, *entry)) ++Summary.tablesUnusable;
      }
    }

    AddLine(lst2, std::string(block.heading) + "Done");
  }

  if (masterTill) MakeLastLineCurrent(lst2);
}
