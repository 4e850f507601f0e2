// A check-only run: the station's lock files and POS window looked at, then Step 2's table
// tests read-only over every table. Nothing on drive C: changes.
#include "engine/Session.h"
#include "run/MainScreen.h"
#include "steps/Step1Targets.h"

void TForm1::SurveyStation() {
  auto& step1 = Report.step1;
  step1 = {};
  zel::steps::RecordUntouchedLockFiles(platform().files, step1.lockFiles);
  const bool posRunning =
      platform().posWindow.FindTopLevelWindow(zel::steps::kPosWindowTitle).has_value();
  step1.posWindow =
      posRunning ? zel::report::PosWindowState::StillThere : zel::report::PosWindowState::Absent;
  // Quiet: nothing else is using the tables while they are tested.
  step1.ok = !posRunning;
  for (const auto& lock : step1.lockFiles)
    if (lock.heldBy) step1.ok = false;
  Report.tablesInUse = !step1.ok;
}

void TForm1::RunCheckOnly() {
  reporting_ = true;
  Report.started = platform().system.Now();
  retestPausedMs_ = 0;
  if (Report.step1.lockFiles.empty()) SurveyStation();
  zel::engine::Session::Default().Close();
  CheckAllTables();
  WriteRunReport();
}
