// Step 1: close the POS program, delete the engine's control and lock files, prove the engine
// on the control table. The line texts are the ones operators and support know from the tills,
// odd spacing and spelling included, so they stay exactly as they are.
#include <exception>
#include <string>

#include "catalogue/Catalogue.h"
#include "engine/Session.h"
#include "platform/WindowsFiles.h"
#include "repair/TableFiles.h"
#include "run/MainScreen.h"
#include "steps/Step1Targets.h"

namespace {

using zel::steps::kPosWindowTitle;
constexpr const char* kClosingLine = "Closing ZelPos Program.......";
constexpr const char* kNetFile = "C:\\PDOXUSRS.NET";
constexpr const char* kNetFileLine = "Deleting PDOXUSRS.NET File.........";
constexpr const char* kControlLine = "Testing DB Control File.........";
constexpr const char* kStageLine = "Reset database control files.......";

}  // namespace

void TForm1::ResetControlFiles() {
  ClearList(lst1);
  AddLine(lst2, "Step 1");
  AddLine(lst2, kStageLine);

  ClosePosProgram();
  RepaintList(lst1);  // drawn after the close even when it added no line
  platform().system.Sleep(1000);

  {
    // The deletions share one look at which files other programs have open.
    zel::platform::DeletionBatch batch(platform().files);

    // Runs whatever the POS close found; StepOk starts false, so it is not guarded.
    if (!DeleteNetFile()) AskShutDownAll();
    RepaintList(lst1);

    // After the first failure every later operation is skipped, so the power-off warning comes
    // at most once.
    for (std::string_view folderName : zel::catalogue::LockResetOrder()) {
      const std::string folder(folderName);
      if (StepOk && !DeleteParadoxLock(folder)) AskShutDownAll();
      RepaintList(lst1);
      if (StepOk && !DeleteUsersLock(folder)) AskShutDownAll();
      RepaintList(lst1);
    }
  }

  if (StepOk && !TestControlTable(std::string(zel::catalogue::kControlFolder),
                                  std::string(zel::catalogue::kControlTable)))
    AskShutDownAll();
  RepaintList(lst1);

  if (StepOk) AddLine(lst2, std::string(kStageLine) + "Done");
  MakeLastLineCurrent(lst1);  // draws lst1, which holds at least the closing line
}

void TForm1::ClosePosProgram() {
  auto& posWindow = platform().posWindow;
  const auto window = posWindow.FindTopLevelWindow(kPosWindowTitle);
  AddLine(lst1, kClosingLine);
  platform().system.Sleep(1000);

  using zel::report::PosWindowState;
  if (!window) {
    Report.step1.posWindow = PosWindowState::Absent;
    AddLine(lst1, std::string(kClosingLine) + "Done");
    return;
  }
  // Queued, never awaited: the second look follows at once and may still see the window.
  posWindow.PostCloseRequest(*window);
  const bool stillThere = posWindow.FindTopLevelWindow(kPosWindowTitle).has_value();
  Report.step1.posWindow = stillThere ? PosWindowState::StillThere : PosWindowState::Closed;
  if (stillThere) AddLine(lst1, std::string(kClosingLine) + "Failed");
}

namespace {

// One deletion of Step 1: its start line, the delete, and the done or failed line. Judged by
// existence afterwards: a file that was never there counts as deleted.
bool DeleteWithLines(TForm1& form, const std::string& path, const std::string& startLine,
                     const std::string& doneLine, const std::string& failedLine) {
  auto& files = form.platform().files;
  form.AddLine(form.lst1, startLine);  // each line is drawn as it is added
  const bool existed = files.FileExists(path);
  if (existed) files.DeleteFile(path);
  const bool gone = !files.FileExists(path);
  using zel::report::LockAction;
  zel::report::LockFileRecord record{path, LockAction::Absent, std::nullopt};
  if (!gone)
    record.action = LockAction::Failed;
  else if (existed)
    record.action = LockAction::Deleted;
  if (!gone) record.heldBy = zel::steps::LockFileHolder(path);
  form.Report.step1.lockFiles.push_back(std::move(record));
  form.AddLine(form.lst1, gone ? doneLine : failedLine);
  form.StepOk = gone;
  return gone;
}

}  // namespace

bool TForm1::DeleteNetFile() {
  return DeleteWithLines(*this, kNetFile, kNetFileLine, std::string(kNetFileLine) + "Done",
                         std::string(kNetFileLine) + "Failed");
}

// The line texts are the operator's familiar ones, odd spacing and all.
bool TForm1::DeleteParadoxLock(const std::string& folder) {
  return DeleteWithLines(*this, "C:\\ZELPOS\\" + folder + "\\PARADOX.LCK",
                         "Deleting c:\\ZELPOS\\" + folder + "\\PARADOX.LCK .........",
                         "Deleting C:\\ZELPOS\\" + folder + "\\PARADOX.LCK .........Done",
                         "Deleting C:\\ZELPOS\\" + folder + " \\PARADOX.LCK .........Failed");
}

bool TForm1::DeleteUsersLock(const std::string& folder) {
  return DeleteWithLines(*this, "C:\\ZELPOS\\" + folder + "\\PDOXUSRS.LCK",
                         "Deleting C:\\ZELPOS\\" + folder + "\\PDOXUSRS.LCK .........",
                         "Deleting C:\\ZELPOS\\" + folder + " \\PDOXUSRS.LCK .........Done",
                         "Deleting C:\\ZELPOS\\" + folder + "PDOXUSRS.LCK .........Failed");
}

bool TForm1::TestControlTable(const std::string& alias, const std::string& table) {
  auto& session = zel::engine::Session::Default();
  AddLine(lst1, kControlLine);
  try {
    session.Open();
    tbl1.SetDatabaseName(alias);
    tbl1.SetTableName(table + ".db");
    tbl1.Open();
    tbl1.Close();  // runs the after-close clean-up while the session is still open
    StepOk = true;
    AddLine(lst1, std::string(kControlLine) + "Done");
    session.Close();
    return true;
  } catch (const std::exception& error) {
    // The list line stays as operators know it; the reason goes to the technician's console.
    zel::repair::TellTechnician("Control table " + alias + " " + table +
                                ".db failed: " + error.what());
  } catch (...) {
    zel::repair::TellTechnician("Control table " + alias + " " + table + ".db failed");
  }
  StepOk = false;
  try {
    tbl1.Close();  // nothing when the open had failed
  } catch (...) {
  }
  try {
    session.Close();
  } catch (...) {
  }
  AddLine(lst1, std::string(kControlLine) + "Failded");
  return false;
}

void TForm1::tbl1AfterClose(zel::engine::Table& /*dataSet*/) {
  if (Report.checkOnly) return;  // a check deletes nothing; its opens made no lock file
  // The alias at this moment names the live folder, even after a backup copy was opened by path.
  ClearLockFiles(tbl1.DatabaseName());
}

void TForm1::ClearLockFiles(const std::string& folder) {
  auto& files = platform().files;
  // Silent: a file that cannot be deleted simply stays.
  const std::string paradoxLock = "c:\\zelpos\\" + folder + "\\PARADOX.LCK";
  const std::string usersLock = "c:\\zelpos\\" + folder + "\\PDOXUSRS.LCK";
  const std::string netFile = "c:\\PDOXUSRS.NET";
  // These are the files the session made for the table just closed; Step 1 already made sure no
  // other program had the folder in use.
  if (files.FileExists(paradoxLock)) files.DeleteSessionLockFile(paradoxLock);
  if (files.FileExists(usersLock)) files.DeleteSessionLockFile(usersLock);
  if (files.FileExists(netFile)) files.DeleteSessionLockFile(netFile);
}
