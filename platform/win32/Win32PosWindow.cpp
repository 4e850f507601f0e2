#include "platform/win32/Win32PosWindow.h"

#include <windows.h>

namespace zel::platform {

std::optional<WindowHandle> Win32PosWindow::FindTopLevelWindow(const std::string& title) {
  const HWND window = FindWindowA(nullptr, title.c_str());
  if (!window) return std::nullopt;
  return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(window));
}

void Win32PosWindow::PostCloseRequest(WindowHandle window) {
  PostMessageA(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)), WM_CLOSE, 0, 0);
}

}  // namespace zel::platform
