// TForm1's run sequence, and what the run does with the window through its view.
#include "run/MainScreen.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "engine/Session.h"
#include "log/EInOutError.h"

TForm1::TForm1(zel::platform::Platform& platform, FormView& view)
    : platform_(platform), view_(view) {
  tbl1.AfterClose = [this](zel::engine::Table& table) { tbl1AfterClose(table); };
}

TForm1::~TForm1() {
  tbl1.AfterClose = nullptr;
}

// --- What the run does with the window. Each change is shown at once: the run keeps the event
// loop busy, so nothing would be drawn until the next dialog otherwise.

void TForm1::AddLine(FormList list, const std::string& text) {
  view_.AddLine(list, text);
  if (observer_) observer_->LineAdded(list, text);
}

void TForm1::ClearList(FormList list) {
  view_.ClearList(list);
  if (observer_) observer_->ListCleared(list);
}

void TForm1::MakeLastLineCurrent(FormList list) {
  view_.MakeLastLineCurrent(list);
}

void TForm1::RepaintList(FormList list) {
  view_.RepaintList(list);
}

void TForm1::SetLabelText(const std::string& text) {
  if (text == labelText_) return;
  labelText_ = text;
  view_.SetLabelText(text);
  if (observer_) observer_->LabelTextChanged(text);
}

void TForm1::SetLabelFlashing(bool flashing) {
  view_.SetLabelFlashing(flashing);
}

void TForm1::NotifyProgress() {
  if (position_ == reportedPosition_ && maximum_ == reportedMaximum_) return;
  reportedPosition_ = position_;
  reportedMaximum_ = maximum_;
  view_.SetProgress(position_, maximum_);
  if (observer_) observer_->ProgressChanged(position_, maximum_);
}

void TForm1::SetProgressPosition(int position) {
  // The bar keeps its position inside its range, as a Windows progress bar does.
  position_ = std::clamp(position, 0, maximum_);
  NotifyProgress();
}

void TForm1::SetProgressMaximum(int maximum) {
  maximum_ = std::max(maximum, 0);
  position_ = std::min(position_, maximum_);
  NotifyProgress();
}

void TForm1::StepProgress() {
  SetProgressPosition(position_ + 1);
}

void TForm1::RefreshForm() {
  view_.RefreshForm();
}

void TForm1::RepaintPanel() {
  view_.RepaintPanel();
}

// --- The run.

void TForm1::FormActivate() {
  // Activation comes again after each dialog of the run closes; the run belongs to the first.
  if (activated_) return;
  activated_ = true;
  try {
    RunChecks();
  } catch (const std::exception& error) {
    // What no step catches ends the run: the operator sees the message, the window stays idle.
    Summary.errorEnded = true;
    WriteRunReport();
    std::string text = error.what();
    if (const auto* io = dynamic_cast<const EInOutError*>(&error); io && !io->File.empty())
      std::fprintf(stderr, "zelutil: %s: %s\n", io->File.c_str(), text.c_str());
    if (text.empty() || text.back() != '.') text += '.';
    platform_.dialogs.ErrorBox(text);
  } catch (...) {
    Summary.errorEnded = true;
    WriteRunReport();
    platform_.dialogs.ErrorBox("Unknown error.");
  }
}

void TForm1::RunChecks() {
  if (Report.checkOnly) {
    RunCheckOnly();
    return;
  }
  // One run at a time, decided before anything is written: a second start while a run is in
  // progress ends here and touches nothing. Without ZelUtil's folder there is nothing to guard
  // and the log line below reports the missing folder as it always has.
  if (platform_.runLock.Take() == zel::platform::RunLock::Outcome::HeldByOtherRun)
    throw std::runtime_error("ZelUtil is already running");
  reporting_ = true;  // from here on every run ends with a report
  Report.started = platform_.system.Now();
  WriteLog("ZEL Util Start.");
  zel::engine::Session::Default().Close();
  RepaintPanel();
  SetLabelText("Please wait while Deleting *.Net and *.LCK files....");  // drawn at once
  ResetControlFiles();
  RepaintPanel();
  if (!StepOk) return;
  CheckAllTables();
  WriteRunReport();  // on disk before the question that may power the PC off
  SetLabelFlashing(true);
  SetLabelText("File check complete....Please ShutDown this PC !!!!");
  RepaintPanel();
  using zel::platform::DialogButtons;
  using zel::platform::DialogKind;
  using zel::platform::DialogResult;
  if (platform_.dialogs.MessageDlg("ShutDown PC", DialogKind::Confirmation, DialogButtons::YesNo) ==
      DialogResult::Yes) {
    ShutDownPc(12);  // power off, forced; the window stays until the system ends the program
  } else {
    view_.CloseForm();
  }
}
