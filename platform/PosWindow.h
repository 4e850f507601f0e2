#pragma once
// Finding the POS program's top-level window by its title and asking it to close
// (FindWindowA / PostMessageA(WM_CLOSE) on Windows).
#include <cstdint>
#include <optional>
#include <string>

namespace zel::platform {

using WindowHandle = std::uint64_t;

class PosWindow {
 public:
  virtual ~PosWindow() = default;
  // A top-level window whose whole title equals `title` without regard to case; none when there
  // is no display.
  virtual std::optional<WindowHandle> FindTopLevelWindow(const std::string& title) = 0;
  // Queues a close request for the window and returns at once; never waits for it.
  virtual void PostCloseRequest(WindowHandle window) = 0;
};

}  // namespace zel::platform
