#pragma once
// Powering the PC off. Flags are ExitWindowsEx's: shutdown 1, reboot 2, force 4, power off 8.
namespace zel::platform {

class PowerOff {
 public:
  virtual ~PowerOff() = default;
  // Tries to acquire the right to shut down; a failure is silent and does not stop the request.
  virtual void AcquireShutdownRight() = 0;
  // Requests the shutdown with the flags unchanged; returns at once, true when accepted.
  virtual bool RequestShutdown(unsigned flags) = 0;
};

}  // namespace zel::platform
