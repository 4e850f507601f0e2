// zelutil-console: ZelUtil's run for a terminal or an SSH session. The run shows itself by
// printing every change of its window as a line, and the program ends with the run, its exit
// status telling how the run went.
#include <QCoreApplication>
#include <iostream>
#include <memory>

#include "platform/Platform.h"
#include "platform/linux/LogindPowerOff.h"
#include "platform/linux/X11PosWindow.h"
#include "platform/posix/WorkAsTillUser.h"
#include "run/FilesRunsMake.h"
#include "tools/console/Console.h"

int main(int argc, char* argv[]) {
  namespace zc = zel::console;
  zc::Options options;
  if (const auto ended = zc::Start(argc, argv, options)) return *ended;

  namespace zp = zel::platform;
  // Started as root over a till's prefix: the run goes on with the till user's rights.
  const zp::PrivilegedServices privileged{zp::LogindPowerOffOnRequest()};
  if (const auto ended =
          zp::WorkAsTillUser("zelutil-console", zel::FilesRunsMake(), privileged, zc::kExitError))
    return *ended;

  // The power-off request goes over D-Bus, which wants an application object; no window.
  int qtArgc = 1;
  QCoreApplication app(qtArgc, argv);

  zc::EventPrinter printer(std::cout);
  zc::ConsoleDialogs dialogs(options.answers, std::cin, std::cout, std::cerr);
  std::unique_ptr<zp::PowerOff> logind;
  // A check never asks for a power-off; should it ever try, the request is only printed.
  if (!options.simulatePowerOff && !options.checkOnly) {
    if (zp::HasPrivilegeBroker())
      logind = std::make_unique<zp::BrokeredPowerOff>();
    else
      logind = std::make_unique<zp::LogindPowerOff>();
  }
  zc::ReportingPowerOff powerOff(logind.get(), std::cout);
  zp::X11PosWindow posWindow;  // finds the POS window when a display is there
  zc::PauseCountingServices system;
  zp::Platform platform{zp::HostFiles(), zp::HostIni(), dialogs,          posWindow,
                        powerOff,        system,        zp::HostRunLock()};
  return zc::RunConsole(options, platform, system, printer);
}
