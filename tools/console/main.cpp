// zelutil-console: ZelUtil's run for a terminal or an SSH session. The same window runs on Qt's
// offscreen platform; every change it shows is printed as a line, and the program ends with the
// run, its exit status telling how the run went.
#include <QApplication>
#include <QElapsedTimer>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "platform/DriveMapping.h"
#include "platform/Platform.h"
#include "platform/linux/LogindPowerOff.h"
#include "platform/linux/X11PosWindow.h"
#include "platform/qt/QtSystemServices.h"
#include "tools/console/Console.h"
#include "ui/MainScreen.h"
#include "zel/Version.h"

int main(int argc, char* argv[]) {
  namespace zc = zel::console;
  std::string error;
  const auto options = zc::ParseArguments(argc - 1, argv + 1, error);
  if (!options) {
    std::cerr << "zelutil-console: " << error << "\n" << zc::Usage();
    return zc::kExitUsage;
  }
  if (options->help) {
    std::cout << zc::Usage();
    return zc::kExitOk;
  }
  if (options->version) {
    std::cout << "zelutil-console " << zel::kVersion << "\n";
    return zc::kExitOk;
  }

  // No display needed; a platform the user chose is kept.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  app.setQuitOnLastWindowClosed(false);  // the run's end, not the window's, ends the program

  namespace zp = zel::platform;
  zc::EventPrinter printer(std::cout);
  zc::ConsoleDialogs dialogs(options->answers, std::cin, std::cout, std::cerr);
  std::unique_ptr<zp::PowerOff> logind;
  // A check never asks for a power-off; should it ever try, the request is only printed.
  if (!options->simulatePowerOff && !options->checkOnly)
    logind = std::make_unique<zp::LogindPowerOff>();
  zc::ReportingPowerOff powerOff(logind.get(), std::cout);
  zp::X11PosWindow posWindow;  // finds the POS window when a display is there
  zc::PauseCountingServices system;
  zp::Platform platform{zp::HostFiles(), zp::HostIni(), dialogs,          posWindow,
                        powerOff,        system,        zp::HostRunLock()};

  TForm1 form(platform);
  form.SetObserver(&printer);
  form.Report.program = "zelutil-console";
  if (!options->reportFile.empty()) {
    // A Windows path ("C:\\...") names a file in the prefix, as everywhere in ZelUtil.
    const std::string& file = options->reportFile;
    const bool windowsPath = file.size() > 2 && std::isalpha(static_cast<unsigned char>(file[0])) &&
                             file[1] == ':' && (file[2] == '\\' || file[2] == '/');
    form.SetReportFile(windowsPath ? zp::MapWindowsPath(file).string() : file);
  }
  if (options->checkOnly) {
    form.SetCheckOnly(true);
    form.SurveyStation();  // before the tests, so the technician reads it first
    for (const std::string& line : zc::SurveyLines(form.Report.step1)) std::cout << line << '\n';
    std::cout.flush();
  }
  QElapsedTimer runTime;
  QObject::connect(&form, &TForm1::RunStarting, &app, [&runTime] { runTime.start(); });
  QObject::connect(&form, &TForm1::RunFinished, &app, [&form, &runTime, &system, &options] {
    if (options->timing) {
      const qint64 total = runTime.elapsed();
      std::cout.flush();
      std::cerr << "timing: run " << total << " ms, pauses " << system.PausedMilliseconds()
                << " ms, run without pauses " << total - system.PausedMilliseconds() << " ms\n";
    }
    QCoreApplication::exit(form.ExitStatus());
  });
  form.show();
  return app.exec();
}
