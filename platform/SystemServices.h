#pragma once
// Pausing, the system beep and the clock, behind one small interface so tests run without
// waiting, beeping or depending on the time of day.
#include <chrono>

namespace zel::platform {

class SystemServices {
 public:
  virtual ~SystemServices() = default;
  virtual void Sleep(int milliseconds) = 0;
  virtual void Beep() = 0;  // MessageBeep(0)
  virtual std::chrono::system_clock::time_point Now() = 0;
};

}  // namespace zel::platform
