#pragma once
// The console front end's pieces: its arguments, the event lines it prints, the dialogs it asks
// on the terminal and the power-off it reports. Each event is one line on standard output,
// written as it happens.
#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/MessageDialog.h"
#include "platform/PowerOff.h"
#include "platform/qt/QtSystemServices.h"
#include "report/ExitStatus.h"
#include "report/RunReport.h"
#include "ui/RunObserver.h"

namespace zel::console {

enum class Answers { Ask, Yes, No };

struct Options {
  Answers answers = Answers::Ask;
  bool simulatePowerOff = false;
  bool timing = false;  // report the run's time on standard error at the end
  bool help = false;
  bool version = false;
  bool checkOnly = false;  // test every table read-only; change nothing
  std::string reportFile;  // the run report goes here instead of the station's report folder
};

// Parses the arguments after the program name; nullopt with `error` set when they are wrong.
std::optional<Options> ParseArguments(int argc, const char* const argv[], std::string& error);

std::string Usage();

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

// A text on one line: CR and LF become \r and \n, a tab \t, any other control character \xHH,
// so a name read from a file can never break a line or send the terminal a control sequence.
std::string EscapeText(const std::string& text);

// "lst1: TEXT", "lst1: <cleared>", "lbl1: TEXT", "pb1: POSITION/MAXIMUM".
class EventPrinter : public RunObserver {
 public:
  explicit EventPrinter(std::ostream& out) : out_(out) {}
  void LineAdded(List list, const std::string& text) override;
  void ListCleared(List list) override;
  void LabelTextChanged(const std::string& text) override;
  void ProgressChanged(int position, int maximum) override;

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

// The real pauses, beep and clock, counting the time spent pausing so --timing can tell the
// run's own work from Step 1's fixed waits.
class PauseCountingServices : public platform::QtSystemServices {
 public:
  void Sleep(int milliseconds) override {
    const auto start = std::chrono::steady_clock::now();
    platform::QtSystemServices::Sleep(milliseconds);
    paused_ += std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
                   .count();
  }
  long long PausedMilliseconds() const noexcept { return paused_; }

 private:
  long long paused_ = 0;
};

}  // namespace zel::console
