// zelutil-console: ZelUtil's run for a terminal or an SSH session. The run shows itself by
// printing every change of its window as a line, and the program ends with the run, its exit
// status telling how the run went.
#include <QCoreApplication>
#include <iostream>
#include <memory>

#include "platform/Platform.h"
#include "platform/linux/LogindPowerOff.h"
#include "platform/linux/X11PosWindow.h"
#include "platform/posix/SmallFiles.h"
#include "platform/posix/WorkAsTillUser.h"
#include "report/ReportWriter.h"
#include "run/FilesRunsMake.h"
#include "tools/console/Console.h"
#include "tools/console/HistoryCommand.h"
#include "tools/console/TechnicianCommands.h"

int main(int argc, char* argv[]) {
  namespace zc = zel::console;
  // The technician's commands are programs of their own that share this one's name.
  if (const auto ended = zc::RunTechnicianCommand(argc, argv)) return *ended;
  zc::Options options;
  if (const auto ended = zc::Start(argc, argv, options)) return *ended;

  namespace zp = zel::platform;
  // Started as root over a till's prefix: the run goes on with the till user's rights.
  zp::PrivilegedServices privileged{zp::LogindPowerOffOnRequest(), {}};
  for (const std::string* output : {&options.reportFile, &options.metricsFile})
    if (!output->empty() && !zc::IsWindowsPath(*output))
      privileged.rootOutputs.emplace_back(*output);
  if (const auto ended =
          zp::WorkAsTillUser("zelutil-console", zel::FilesRunsMake(), privileged, zc::kExitError))
    return *ended;
  // Read with the till user's rights, as everything under drive C:.
  if (options.history) return zc::RunHistory(options, std::cout);

  // The power-off request goes over D-Bus, which wants an application object; no window.
  int qtArgc = 1;
  QCoreApplication app(qtArgc, argv);

  // A report file root named outside the prefix is root's to write as well.
  zel::report::SetReportOutput([](const std::filesystem::path& file, const std::string& document) {
    if (!zp::BrokerWritesFile(file)) return false;
    std::string error;
    if (!zp::BrokerWriteFile(file, document, error))
      throw zel::report::ReportError("the run report could not be written to " + file.string() +
                                     ": " + error);
    return true;
  });
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
  // Metrics go where root named them: root writes them when that is outside the till user's
  // prefix, else this process does.
  const zc::MetricsWriter writeMetrics = [](const std::string& file, const auto& compose,
                                            std::string& error) {
    const std::string text = compose(zp::ReadSmallRegularFile(file, 1u << 20));
    if (zp::BrokerWritesFile(file)) return zp::BrokerWriteFile(file, text, error);
    return zp::WriteFileAtomically(file, text, error);
  };
  return zc::RunConsole(options, platform, system, printer, writeMetrics);
}
