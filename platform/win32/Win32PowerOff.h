#pragma once
// Powering the PC off as Windows asks it to be done: the shutdown privilege for the process's
// token, then ExitWindowsEx.
#include "platform/PowerOff.h"

namespace zel::platform {

class Win32PowerOff : public PowerOff {
 public:
  // OpenProcessToken, LookupPrivilegeValueA(SE_SHUTDOWN_NAME), AdjustTokenPrivileges; any
  // failure is silent.
  void AcquireShutdownRight() override;
  // ExitWindowsEx(flags, 0).
  bool RequestShutdown(unsigned flags) override;
};

}  // namespace zel::platform
