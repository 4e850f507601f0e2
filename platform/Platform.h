#pragma once
// The outside world as TForm1 sees it: the program wires the real implementations, tests fakes.
#include "platform/IniReader.h"
#include "platform/MessageDialog.h"
#include "platform/PosWindow.h"
#include "platform/PowerOff.h"
#include "platform/RunLock.h"
#include "platform/SystemServices.h"
#include "platform/WindowsFiles.h"

namespace zel::platform {

struct Platform {
  WindowsFiles& files;
  IniReader& ini;
  MessageDialogs& dialogs;
  PosWindow& posWindow;
  PowerOff& powerOff;
  SystemServices& system;
  // The real lock unless a caller gives another: a run is never left unguarded by omission.
  RunLock& runLock = HostRunLock();
};

}  // namespace zel::platform
