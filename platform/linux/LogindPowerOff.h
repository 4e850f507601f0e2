#pragma once
// Powering the PC off through systemd-logind on the system D-Bus.
#include <QDBusConnection>

#include "platform/PowerOff.h"

namespace zel::platform {

// Maps ExitWindowsEx's flags onto logind's Manager methods:
//   power off (8) -> PowerOff; reboot (2) -> Reboot; shutdown (1) alone -> PowerOff as well,
//   since a till halted without power-off looks hung to the operator;
//   force (4) -> skip inhibitor locks (SD_LOGIND_SKIP_INHIBITORS).
// Nothing ever asks for interactive authentication. Flags naming none of 1, 2 and 8 (a log-off)
// are not a power-off and are refused without a call.
class LogindPowerOff : public PowerOff {
 public:
  // The system bus; QDBusConnection honours $DBUS_SYSTEM_BUS_ADDRESS.
  LogindPowerOff();
  explicit LogindPowerOff(const QDBusConnection& bus);

  // CanPowerOff, asked and ignored: it lets polkit and logind see the request coming; a failure
  // is silent.
  void AcquireShutdownRight() override;
  // PowerOffWithFlags/RebootWithFlags; a logind too old for the method or for the skip flag gets
  // PowerOff(false)/Reboot(false). True only when logind replied without an error.
  bool RequestShutdown(unsigned flags) override;

  static constexpr int kReplyTimeoutMs = 5000;

 private:
  QDBusConnection bus_;
};

}  // namespace zel::platform
