// Program entry: the one window, shown; the run starts at its first activation and the program
// ends when the window closes.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/Platform.h"
#include "platform/linux/LogindPowerOff.h"
#include "platform/linux/X11PosWindow.h"
#include "platform/posix/SimulatedPowerOff.h"
#include "platform/posix/WorkAsTillUser.h"
#include "platform/qt/QtMessageDialogs.h"
#include "platform/qt/QtSystemServices.h"
#include "report/ExitStatus.h"
#include "run/FilesRunsMake.h"
#include "ui/qt/MainScreenWindow.h"

int main(int argc, char* argv[]) {
  namespace zp = zel::platform;
  // Started as root over a till's prefix: the run goes on with the till user's rights, before
  // anything connects to the display.
  const zp::PrivilegedServices privileged{zp::LogindPowerOffOnRequest(), {}};
  if (const auto ended =
          zp::WorkAsTillUser("zelutil", zel::FilesRunsMake(), privileged, zel::report::kExitError))
    return *ended;

  QApplication app(argc, argv);  // takes Qt's own options (-platform, -display) off the list
  if (argc > 1) {
    std::fprintf(stderr, "zelutil: takes no arguments; ignoring \"%s\"\n", argv[1]);
  }

  zp::QtMessageDialogs dialogs;
  zp::X11PosWindow posWindow;
  zp::QtSystemServices system;
  // Demonstrations and tests of the whole program must never switch the PC off.
  const char* simulate = std::getenv("ZELUTIL_SIMULATE_POWER_OFF");
  std::unique_ptr<zp::PowerOff> powerOff;
  if (simulate && std::strcmp(simulate, "1") == 0)
    powerOff = std::make_unique<zp::SimulatedPowerOff>();
  else if (zp::HasPrivilegeBroker())
    powerOff = std::make_unique<zp::BrokeredPowerOff>();
  else
    powerOff = std::make_unique<zp::LogindPowerOff>();

  zp::Platform platform{zp::HostFiles(), zp::HostIni(), dialogs,          posWindow,
                        *powerOff,       system,        zp::HostRunLock()};
  MainScreenWindow window(platform);
  dialogs.SetWindow(&window);
  window.show();
  return app.exec();
}
