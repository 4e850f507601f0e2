#pragma once
// The POS program's window found and asked to close by Windows itself.
#include "platform/PosWindow.h"

namespace zel::platform {

class Win32PosWindow : public PosWindow {
 public:
  // FindWindowA: any top-level window whose title is `title`, without regard to case.
  std::optional<WindowHandle> FindTopLevelWindow(const std::string& title) override;
  // PostMessageA(WM_CLOSE, 0, 0): queued, never awaited.
  void PostCloseRequest(WindowHandle window) override;
};

}  // namespace zel::platform
