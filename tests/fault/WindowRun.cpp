// zel-fault-window: the window program's run for the fault sweeps. The real TForm1 is wired as
// the window program wires it (host files, INI reader, POS window finder, pauses), on whatever
// platform Qt is given (the sweeps use offscreen), except that its modal dialogs are answered at
// once (OK, and No to the shut-down question), power-off is only simulated, and every list line
// is printed so the sweep can see what the window showed. Ends when the run has finished.
#include <QApplication>
#include <cstdio>
#include <string>

#include "platform/Platform.h"
#include "platform/linux/X11PosWindow.h"
#include "platform/posix/SimulatedPowerOff.h"
#include "platform/qt/QtSystemServices.h"
#include "ui/qt/MainScreenWindow.h"

namespace {

namespace zp = zel::platform;

class AnsweringDialogs : public zp::MessageDialogs {
 public:
  zp::DialogResult MessageDlg(const std::string& text, zp::DialogKind,
                              zp::DialogButtons buttons) override {
    const bool ok = buttons == zp::DialogButtons::Ok;
    std::printf("dialog: %s\nanswer: %s\n", text.c_str(), ok ? "OK" : "No");
    std::fflush(stdout);
    return ok ? zp::DialogResult::Ok : zp::DialogResult::No;
  }
  void ErrorBox(const std::string& text) override {
    std::printf("error: %s\n", text.c_str());
    std::fflush(stdout);
  }
};

class LinePrinter : public RunObserver {
 public:
  void LineAdded(List list, const std::string& text) override {
    std::printf("lst%d: %s\n", static_cast<int>(list), text.c_str());
    std::fflush(stdout);
  }
  void ListCleared(List) override {}
  void LabelTextChanged(const std::string&) override {}
  void ProgressChanged(int, int) override {}
};

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);

  AnsweringDialogs dialogs;
  zp::X11PosWindow posWindow;
  zp::SimulatedPowerOff powerOff;
  zp::QtSystemServices system;
  zp::Platform platform{zp::HostFiles(), zp::HostIni(), dialogs, posWindow, powerOff, system};

  LinePrinter printer;
  MainScreenWindow form(platform);
  form.form.SetObserver(&printer);
  QObject::connect(&form, &MainScreenWindow::RunFinished, &app, [&form] {
    const auto& s = form.form.Summary;
    std::printf("summary: step1 %s, %d tested, %d unusable, %d skipped%s\n",
                form.form.StepOk ? "ok" : "failed", s.tablesTested, s.tablesUnusable,
                s.tablesSkipped, s.errorEnded ? ", ended by an error" : "");
    std::fflush(stdout);
    QCoreApplication::exit(0);
  });
  form.show();
  return app.exec();
}
