// zelutil-console.exe: ZelUtil's run for a Windows console. The same run and printer as on
// Linux, wired to the Windows implementations of the platform services.
#include <iostream>
#include <memory>

#include "platform/Platform.h"
#include "platform/win32/Win32PosWindow.h"
#include "platform/win32/Win32PowerOff.h"
#include "tools/console/Console.h"

int main(int argc, char* argv[]) {
  namespace zc = zel::console;
  zc::Options options;
  if (const auto ended = zc::Start(argc, argv, options)) return *ended;
  if (options.history) {
    std::cerr << "zelutil-console: --history is not available on Windows\n";
    return zc::kExitUsage;
  }

  namespace zp = zel::platform;
  zc::EventPrinter printer(std::cout);
  zc::ConsoleDialogs dialogs(options.answers, std::cin, std::cout, std::cerr);
  std::unique_ptr<zp::PowerOff> windows;
  // A check never asks for a power-off; should it ever try, the request is only printed.
  if (!options.simulatePowerOff && !options.checkOnly)
    windows = std::make_unique<zp::Win32PowerOff>();
  zc::ReportingPowerOff powerOff(windows.get(), std::cout);
  zp::Win32PosWindow posWindow;
  zc::PauseCountingServices system;
  zp::Platform platform{zp::HostFiles(), zp::HostIni(), dialogs,          posWindow,
                        powerOff,        system,        zp::HostRunLock()};
  return zc::RunConsole(options, platform, system, printer);
}
