#pragma once
// The POS program's window under X11 (ZelPos runs under Wine, whose windows are X11 windows).
#include "platform/PosWindow.h"

namespace zel::platform {

// Finds top-level windows by title and asks them to close through WM_DELETE_WINDOW, on a
// connection of its own to $DISPLAY (opened per call, so nothing depends on Qt's connection or
// on the display outliving this object). Without a display there is no window.
class X11PosWindow : public PosWindow {
 public:
  // The whole title (_NET_WM_NAME, else WM_NAME) equal to `title` without regard to ASCII case,
  // on a window that accepts WM_DELETE_WINDOW; top-level children of the root are searched
  // topmost first, and under a reparenting window manager the client windows (WM_STATE) in
  // their frames. Windows that vanish during the search are skipped.
  std::optional<WindowHandle> FindTopLevelWindow(const std::string& title) override;
  // Sends the WM_DELETE_WINDOW client message and flushes it; does not wait for an answer.
  void PostCloseRequest(WindowHandle window) override;
};

}  // namespace zel::platform
