#pragma once
// Pauses, the beep and the clock on Windows: Sleep and MessageBeep(0).
#include "platform/SystemServices.h"

namespace zel::platform {

class Win32SystemServices : public SystemServices {
 public:
  void Sleep(int milliseconds) override;
  void Beep() override;
  std::chrono::system_clock::time_point Now() override;
};

}  // namespace zel::platform
