#pragma once
#include "platform/SystemServices.h"

namespace zel::platform {

// Real pauses (the run blocks the event loop on purpose), QApplication::beep and the clock.
class QtSystemServices : public SystemServices {
 public:
  void Sleep(int milliseconds) override;
  void Beep() override;
  std::chrono::system_clock::time_point Now() override;
};

}  // namespace zel::platform
