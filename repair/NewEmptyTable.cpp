// Repair of a transient table: re-index, else replace it by a new empty table.
#include <string>

#include "catalogue/Catalogue.h"
#include "repair/TableFiles.h"
#include "run/MainScreen.h"

void TForm1::RepairTransientTable(const std::string& folder, const std::string& table) {
  const std::string restored =
      "New File Succesfully Restored  " + folder + "\\" + table + " ....Done";
  ReIndexTable(folder, table);
  if (TestTable(folder, table, "", "", "", ""))
    AddLine(lst2, restored);
  else if (!zel::repair::KeepSoundTable(folder, table))
    DeleteTableAndRecreate(folder, table);

  if (TestTable(folder, table, "", "", "", ""))
    AddLine(lst2, restored);
  else
    AddLine(lst2, "New File Failed " + folder + "\\" + table + " ....Failed");
}

void TForm1::DeleteTableAndRecreate(const std::string& folder, const std::string& table) {
  if (repairRecord_) repairRecord_->kind = zel::report::RepairKind::NewEmpty;
  // Files that could not be saved stay where they are, and nothing is created over them.
  if (!zel::repair::DeleteTableFileSet(*this, folder, table)) return;
  CreateNewFile(folder, table);
}

void TForm1::CreateNewFile(const std::string& folder, const std::string& table) {
  // A failure anywhere here (the log writer or the creator included) skips the rest; the test
  // that follows reports the table as failed.
  try {
    AddLine(lst2, "Creating " + folder + "\\" + table + "\\ New " + " ....Files");
    WriteLog("Create new file :" + folder + " " + table);
    std::string warning;
    zel::catalogue::GetReplaceWarning(folder, table, warning);
    platform().dialogs.MessageDlg(warning, zel::platform::DialogKind::Information,
                                  zel::platform::DialogButtons::Ok);
    if (auto creator = zel::catalogue::TableCreator(folder, table)) creator();
    RepaintList(lst2);
  } catch (...) {
  }
}
