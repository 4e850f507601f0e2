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
#include "platform/qt/QtMessageDialogs.h"
#include "platform/qt/QtSystemServices.h"
#include "ui/qt/MainScreenWindow.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);  // takes Qt's own options (-platform, -display) off the list
  if (argc > 1) {
    std::fprintf(stderr, "zelutil: takes no arguments; ignoring \"%s\"\n", argv[1]);
  }

  namespace zp = zel::platform;
  zp::QtMessageDialogs dialogs;
  zp::X11PosWindow posWindow;
  zp::QtSystemServices system;
  // Demonstrations and tests of the whole program must never switch the PC off.
  const char* simulate = std::getenv("ZELUTIL_SIMULATE_POWER_OFF");
  std::unique_ptr<zp::PowerOff> powerOff;
  if (simulate && std::strcmp(simulate, "1") == 0)
    powerOff = std::make_unique<zp::SimulatedPowerOff>();
  else
    powerOff = std::make_unique<zp::LogindPowerOff>();

  zp::Platform platform{zp::HostFiles(), zp::HostIni(), dialogs,          posWindow,
                        *powerOff,       system,        zp::HostRunLock()};
  MainScreenWindow window(platform);
  dialogs.SetWindow(&window);
  window.show();
  return app.exec();
}
