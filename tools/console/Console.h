#pragma once
// The console front end's pieces: its arguments, the event lines it prints, the dialogs it asks
// on the terminal and the power-off it reports. Each event is one line on standard output,
// written as it happens.
#include <chrono>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/EscapeText.h"
#include "platform/MessageDialog.h"
#include "platform/Platform.h"
#include "platform/PowerOff.h"
#include "platform/SystemServices.h"
#include "report/ExitStatus.h"
#include "report/RunReport.h"
#include "run/FormView.h"

namespace zel::console {

enum class Answers { Ask, Yes, No };

struct Options {
  Answers answers = Answers::Ask;
  bool simulatePowerOff = false;
  bool timing = false;  // report the run's time on standard error at the end
  bool help = false;
  bool version = false;
  bool checkOnly = false;   // test every table read-only; change nothing
  std::string reportFile;   // the run report goes here instead of the station's report folder
  std::string metricsFile;  // node_exporter's textfile metrics of the run go here
  // --history: list the till's run and check reports instead of running.
  bool history = false;
  bool historyJson = false;
  std::string historyDir;  // the check reports' folder; "" for /var/lib/zelutil/<user>
};

// Writes the metrics file in one step (never half written, never through a link at its name):
// the text `compose` makes of the file's earlier content ("" when there is none, or it is not a
// regular file it can read). False with the reason in `error`. Each system's program gives its
// own.
using MetricsWriter = std::function<bool(
    const std::string& file, const std::function<std::string(const std::string& earlier)>& compose,
    std::string& error)>;

// Parses the arguments after the program name; nullopt with `error` set when they are wrong.
std::optional<Options> ParseArguments(int argc, const char* const argv[], std::string& error);

std::string Usage();

// The program's start: parses the arguments after the program name and answers --help,
// --version and bad arguments itself. The exit status when the program ends there; nullopt
// with `options` set when the run is to go ahead.
std::optional<int> Start(int argc, const char* const argv[], Options& options);

// Exit statuses.
inline constexpr int kExitOk = report::kExitOk;
inline constexpr int kExitTables = report::kExitTables;
inline constexpr int kExitStepOne = report::kExitStepOne;
inline constexpr int kExitError = report::kExitError;
inline constexpr int kExitUsage = 64;  // bad arguments

int ExitStatus(bool errorEnded, bool stepOk, int tablesUnusable, int tablesSkipped);

// What a check prints before its tests: "lock: PATH held by PID COMMAND" or "lock: PATH stale"
// for each lock file there, "pos: running" when the POS window is open, and a note when a live
// process may be changing tables meanwhile.
std::vector<std::string> SurveyLines(const report::Step1Record& survey);

// "C:\\..." or "c:/...": a path on a Windows drive, mapped under the Wine prefix.
bool IsWindowsPath(const std::string& file);

// A text on one line (platform/EscapeText.h): a name read from a file can never break a line or
// send the terminal a control sequence.
using platform::EscapeText;

// The console's window: "lst1: TEXT", "lst1: <cleared>", "lbl1: TEXT", "pb1: POSITION/MAXIMUM".
// What only draws (repaints, the current line, flashing) prints nothing.
class EventPrinter : public FormView {
 public:
  explicit EventPrinter(std::ostream& out) : out_(out) {}
  void AddLine(FormList list, const std::string& text) override;
  void ClearList(FormList list) override;
  void MakeLastLineCurrent(FormList) override {}
  void RepaintList(FormList) override {}
  void SetLabelText(const std::string& text) override;
  void SetLabelFlashing(bool) override {}
  void SetProgress(int position, int maximum) override;
  void RefreshForm() override {}
  void RepaintPanel() override {}
  // The run ends with the program; there is no window to close.
  void CloseForm() override {}

 private:
  std::ostream& out_;
};

// "dialog KIND: TEXT", then "answer: OK|Yes|No"; "error: TEXT" for the error box. Answers come
// from `in` (y/n for Yes/No, Enter for OK; end of input is No or OK), prompting on `prompt`,
// or from the options.
class ConsoleDialogs : public platform::MessageDialogs {
 public:
  ConsoleDialogs(Answers answers, std::istream& in, std::ostream& out, std::ostream& prompt)
      : answers_(answers), in_(in), out_(out), prompt_(prompt) {}
  platform::DialogResult MessageDlg(const std::string& text, platform::DialogKind kind,
                                    platform::DialogButtons buttons) override;
  void ErrorBox(const std::string& text) override;

 private:
  platform::DialogResult Ask(platform::DialogButtons buttons);

  Answers answers_;
  std::istream& in_;
  std::ostream& out_;
  std::ostream& prompt_;
};

// "power-off: FLAGS accepted|refused|simulated". Without a real power-off (`real` null) every
// request is simulated and nothing is switched off.
class ReportingPowerOff : public platform::PowerOff {
 public:
  ReportingPowerOff(platform::PowerOff* real, std::ostream& out) : real_(real), out_(out) {}
  void AcquireShutdownRight() override;
  bool RequestShutdown(unsigned flags) override;

 private:
  platform::PowerOff* real_;
  std::ostream& out_;
};

// Real pauses and the clock, counting the time spent pausing so --timing can tell the run's own
// work from Step 1's fixed waits. A terminal has no beep of its own: the console stays silent.
class PauseCountingServices : public platform::SystemServices {
 public:
  void Sleep(int milliseconds) override;
  void Beep() override {}
  std::chrono::system_clock::time_point Now() override { return std::chrono::system_clock::now(); }
  long long PausedMilliseconds() const noexcept { return paused_; }

 private:
  long long paused_ = 0;
};

// The run itself, the same on every system: the form with `printer` as its window, the station
// survey first when checking only, the timing and the metrics at the end. Returns the exit status.
int RunConsole(const Options& options, platform::Platform& platform,
               const PauseCountingServices& system, EventPrinter& printer,
               const MetricsWriter& writeMetrics = {});

}  // namespace zel::console
