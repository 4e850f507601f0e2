// Powering this PC off: directly (the run's final question) or after telling the operator to
// shut down the other PCs first (Step 1's failure exit).
#include "run/MainScreen.h"

bool TForm1::ShutDownPc(unsigned flags) {
  auto& powerOff = platform().powerOff;
  // Acquiring the right may fail silently; the request is made all the same.
  powerOff.AcquireShutdownRight();
  // Returns at once: a slow power manager must not freeze the window, and nothing here waits
  // for its answer.
  return powerOff.RequestShutdownThen(flags, {});
}

void TForm1::AskShutDownAll() {
  WriteRunReport();  // on disk before anything may power the PC off
  platform().dialogs.MessageDlg(
      "Please ShutDown POS and BACKOFFICE Pc,\n\rthen Click on the OK Buttun to shitdown this PC",
      zel::platform::DialogKind::Warning, zel::platform::DialogButtons::Ok);
  // However the dialog was closed: forced power-off.
  ShutDownPc(12);
}
