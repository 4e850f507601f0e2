#include "platform/win32/Win32SystemServices.h"

#include <windows.h>

namespace zel::platform {

void Win32SystemServices::Sleep(int milliseconds) {
  if (milliseconds > 0) ::Sleep(static_cast<DWORD>(milliseconds));
}

void Win32SystemServices::Beep() {
  MessageBeep(0);
}

std::chrono::system_clock::time_point Win32SystemServices::Now() {
  return std::chrono::system_clock::now();
}

}  // namespace zel::platform
