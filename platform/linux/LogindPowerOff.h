#pragma once
// Powering the PC off through systemd-logind on the system D-Bus.
#include <QDBusConnection>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/PowerOff.h"

class QDBusPendingCallWatcher;
class QObject;

namespace zel::platform {

// Maps ExitWindowsEx's flags onto logind's Manager methods:
//   power off (8) -> PowerOff; reboot (2) -> Reboot; shutdown (1) alone -> PowerOff as well,
//   since a till halted without power-off looks hung to the operator;
//   force (4) -> skip inhibitor locks (SD_LOGIND_SKIP_INHIBITORS).
// Nothing ever asks for interactive authentication. Flags naming none of 1, 2 and 8 (a log-off)
// are not a power-off and are refused without a call.
//
// Calls go out without blocking: a logind that is slow or hung never freezes the window, which
// keeps drawing while the answer is on its way. Answers come from the event loop of the thread
// that made the request.
class LogindPowerOff : public PowerOff {
 public:
  // The system bus; QDBusConnection honours $DBUS_SYSTEM_BUS_ADDRESS.
  LogindPowerOff();
  explicit LogindPowerOff(const QDBusConnection& bus, int replyTimeoutMs = kReplyTimeoutMs);
  // Waits for the requests still on their way (at most their reply timeouts), so that a program
  // closed right after asking does not lose its power-off; their answers are dropped.
  ~LogindPowerOff() override;

  // CanPowerOff, sent and not awaited: it lets polkit and logind see the request coming.
  void AcquireShutdownRight() override;
  // PowerOffWithFlags/RebootWithFlags; a logind too old for the method or for the skip flag gets
  // PowerOff(false)/Reboot(false). Accepted only when logind replied without an error.
  // RequestShutdown waits for that answer; RequestShutdownThen returns at once.
  bool RequestShutdown(unsigned flags) override;
  bool RequestShutdownThen(unsigned flags, Answer answered) override;
  void AwaitAnswers() override;

  static constexpr int kReplyTimeoutMs = 5000;

 private:
  struct Request;
  void Send(const std::shared_ptr<Request>& request, const QString& method,
            const QVariantList& args);
  void Finished(QDBusPendingCallWatcher* watcher);

  QDBusConnection bus_;
  int replyTimeoutMs_;
  std::unique_ptr<QObject> context_;  // owns the watchers; their signals die with it
  std::vector<std::pair<QDBusPendingCallWatcher*, std::shared_ptr<Request>>> inFlight_;
};

}  // namespace zel::platform

namespace zel::platform {

// The power-off as a root process asks for it on behalf of its child (see PrivilegeBroker.h):
// the application object and the bus connection are made at the first request, so a run that
// never powers off never touches the system bus from root.
std::function<bool(unsigned flags)> LogindPowerOffOnRequest();

}  // namespace zel::platform
