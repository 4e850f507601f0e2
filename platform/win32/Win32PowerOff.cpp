#include "platform/win32/Win32PowerOff.h"

#include <windows.h>

namespace zel::platform {

void Win32PowerOff::AcquireShutdownRight() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES privileges{};
  if (LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

bool Win32PowerOff::RequestShutdown(unsigned flags) {
  return ExitWindowsEx(flags, 0) != 0;
}

}  // namespace zel::platform
