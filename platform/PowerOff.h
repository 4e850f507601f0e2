#pragma once
// Powering the PC off. Flags are ExitWindowsEx's: shutdown 1, reboot 2, force 4, power off 8.
#include <functional>

namespace zel::platform {

class PowerOff {
 public:
  // The system's answer to one request: true when it accepted the shutdown.
  using Answer = std::function<void(bool accepted)>;

  virtual ~PowerOff() = default;
  // Tries to acquire the right to shut down; a failure is silent and does not stop the request.
  virtual void AcquireShutdownRight() = 0;
  // Requests the shutdown with the flags unchanged; true when accepted. Where the system takes
  // time to answer, this waits for the answer (bounded by a reply timeout).
  virtual bool RequestShutdown(unsigned flags) = 0;
  // The same request without waiting: returns at once, false when it was refused at once, true
  // when it was accepted or is on its way. `answered` (may be empty) gets the answer exactly
  // once, on this thread: before the return where it is known at once, otherwise from the event
  // loop when it arrives (no answer within the reply timeout counts as refused).
  virtual bool RequestShutdownThen(unsigned flags, Answer answered) {
    const bool accepted = RequestShutdown(flags);
    if (answered) answered(accepted);
    return accepted;
  }
  // Delivers the answers still outstanding, waiting for each at most its reply timeout; for a
  // front end about to end.
  virtual void AwaitAnswers() {}
};

}  // namespace zel::platform
