#include "tools/console/Console.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <istream>
#include <ostream>
#include <thread>

#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "report/Metrics.h"
#include "run/MainScreen.h"
#include "zel/Version.h"

namespace zel::console {

std::string Usage() {
  return "Usage: zelutil-console [--yes | --no] [--simulate-power-off] [--timing] [--report FILE]\n"
         "                      [--metrics FILE]\n"
         "       zelutil-console --check-only [--report FILE] [--metrics FILE]\n"
         "       zelutil-console --history [--json] [--history-dir DIR]\n"
#ifndef _WIN32
         "       zelutil-console --put-back RUN [--master TABLE] | --undo RUN (below)\n"
#endif
         "Runs ZelUtil's checks and repairs without a window and prints each event as a line:\n"
         "  lst1: TEXT | lst2: TEXT | lst3: TEXT   a line added to a list\n"
         "  lst1: <cleared>                        the list emptied\n"
         "  lbl1: TEXT                             the status label's text\n"
         "  pb1: POSITION/MAXIMUM                  the progress bar\n"
         "  dialog KIND: TEXT, then answer: OK|Yes|No\n"
         "  error: TEXT                            an error that ended the run\n"
         "  power-off: FLAGS accepted|refused|simulated\n"
         "Dialogs are answered on the terminal (y/n, Enter for OK) unless:\n"
         "  --yes                 answer Yes or OK to every dialog\n"
         "  --no                  answer No to \"ShutDown PC\", Yes or OK to every other dialog\n"
         "  --simulate-power-off  never power the PC off; report the request as simulated\n"
         "  --timing              at the end, print the run's time and its pauses on stderr\n"
         "  --report FILE         write the run report to FILE instead of\n"
         "                        C:\\ZelPos\\ZelUtil.Reports\\<yyyyMMdd-HHmmss>.json\n"
         "  --metrics FILE        at the end, write the run's outcome in node_exporter's textfile\n"
         "                        format to FILE (replaced in one step; the other kind's last\n"
         "                        run or check in it is kept)\n"
         "  --check-only          test every table under every index and change nothing: no\n"
         "                        repair, no lock file made or deleted, no log line, no dialog, "
         "no\n"
         "                        power-off; first prints for each lock file found\n"
         "                          lock: PATH held by PID COMMAND | lock: PATH stale\n"
         "                        and \"pos: running\" when the POS window is open. A table that\n"
         "                        fails is tested again after a short pause; its lines are the\n"
         "                        second test's. A report is written only with --report.\n"
         "  --history             list the till's run reports (C:\\ZelPos\\ZelUtil.Reports) and\n"
         "                        check reports (/var/lib/zelutil/<user>, as the\n"
         "                        zelutil-check@<user> service writes them), newest first, one\n"
         "                        line each, then the tables that needed a repair in more than\n"
         "                        one of the last 10 runs (\"keeps breaking\"); a report that\n"
         "                        cannot be read is listed with the reason (exit 1)\n"
         "  --json                with --history: the same as one JSON document\n"
         "  --history-dir DIR     with --history: read check reports from DIR instead\n"
         "  --version             print the version\n"
         "  --help                show this text\n"
         "Exit status: 0 all tables usable, 1 a table stayed unusable or was skipped,\n"
         "2 Step 1 failed, 3 an error ended the run, 64 bad arguments.\n"
         "With --check-only: 0 every table usable, 1 a table is not.\n"
#ifndef _WIN32
         "Technician's commands, after a run (exit 0 done, 1 a table refused or failed, 3 refused):\n"
         "  --put-back RUN        append the records salvaged by that run to each current-shift\n"
         "                        table it replaced by a new empty one; a key present already,\n"
         "                        or an identical heap record, is not added (KEYVIOL.csv)\n"
         "  --master TABLE        with --put-back: add to that restored master table the records\n"
         "                        only its damaged copy held (the run's Lost-by-restore.csv)\n"
         "  --undo RUN            put back every table file that run replaced or deleted, once\n"
         "                        they are checked to be as it left them\n"
         "  RUN: a report file, a run's folder under C:\\ZelPos\\ZelUtil.Damaged, or latest.\n"
         "  Example: zelutil-console --put-back latest\n"
#endif
         "Drive C: is $WINEPREFIX/drive_c (default ~/.wine/drive_c).\n";
}

std::optional<int> Start(int argc, const char* const argv[], Options& options) {
  std::string error;
  const auto parsed = ParseArguments(argc - 1, argv + 1, error);
  if (!parsed) {
    std::cerr << "zelutil-console: " << error << "\n" << Usage();
    return kExitUsage;
  }
  if (parsed->help) {
    std::cout << Usage();
    return kExitOk;
  }
  if (parsed->version) {
    std::cout << "zelutil-console " << kVersion << "\n";
    return kExitOk;
  }
  options = *parsed;
  return std::nullopt;
}

namespace {

// --history [--json] [--history-dir DIR]: one of the history's words at argv[i] taken into
// `options` (moving `i` past a value); false when argv[i] is none of them.
bool ParseHistoryArgument(int argc, const char* const argv[], int& i, Options& options,
                          std::string& error) {
  const std::string arg = argv[i] ? argv[i] : "";
  if (arg == "--history") {
    options.history = true;
  } else if (arg == "--json") {
    options.historyJson = true;
  } else if (arg == "--history-dir") {
    if (i + 1 >= argc || !argv[i + 1] || !*argv[i + 1] ||
        std::string(argv[i + 1]).rfind("--", 0) == 0)
      error = "--history-dir needs a folder";
    else
      options.historyDir = argv[++i];
  } else if (arg.rfind("--history-dir=", 0) == 0) {
    options.historyDir = arg.substr(14);
    if (options.historyDir.empty()) error = "--history-dir needs a folder";
  } else {
    return false;
  }
  return true;
}

// The history lists; it runs nothing, so the run's options make no sense with it.
bool CheckHistoryOptions(const Options& options, bool answered, std::string& error) {
  if (!options.history) {
    if (options.historyJson || !options.historyDir.empty())
      error =
          std::string(options.historyJson ? "--json" : "--history-dir") + " is only for --history";
    return error.empty();
  }
  if (options.checkOnly || answered || options.simulatePowerOff || options.timing ||
      !options.reportFile.empty() || !options.metricsFile.empty())
    error = "--history lists reports and runs nothing: it takes only --json and --history-dir";
  return error.empty();
}

}  // namespace

std::optional<Options> ParseArguments(int argc, const char* const argv[], std::string& error) {
  Options options;
  bool yes = false;
  bool no = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i] ? argv[i] : "";
    // "--report FILE" or "--report=FILE"; the next word is not taken when it is another option.
    const auto fileValue = [&](const std::string& option, std::string& file) {
      if (arg == option) {
        if (i + 1 >= argc || !argv[i + 1] || std::string(argv[i + 1]).rfind("--", 0) == 0)
          return false;
        file = argv[++i];
      } else {
        file = arg.substr(option.size() + 1);
      }
      return !file.empty();
    };
    if (arg == "--report" || arg.rfind("--report=", 0) == 0 || arg == "--metrics" ||
        arg.rfind("--metrics=", 0) == 0) {
      const bool report = arg.rfind("--report", 0) == 0;
      const std::string option = report ? "--report" : "--metrics";
      std::string file;
      if (!fileValue(option, file)) {
        error = option + " needs a file name";
        return std::nullopt;
      }
      (report ? options.reportFile : options.metricsFile) = file;
    } else if (arg == "--check-only")
      options.checkOnly = true;
    else if (arg == "--version")
      options.version = true;
    else if (arg == "--yes")
      yes = true;
    else if (arg == "--no")
      no = true;
    else if (arg == "--simulate-power-off")
      options.simulatePowerOff = true;
    else if (arg == "--timing")
      options.timing = true;
    else if (arg == "--help" || arg == "-h")
      options.help = true;
    else if (ParseHistoryArgument(argc, argv, i, options, error)) {
      if (!error.empty()) return std::nullopt;
    } else {
      error = "unknown argument \"" + EscapeText(arg) + "\"";
      return std::nullopt;
    }
  }
  if (yes && no) {
    error = "--yes and --no exclude each other";
    return std::nullopt;
  }
  options.answers = yes ? Answers::Yes : no ? Answers::No : Answers::Ask;
  if (!CheckHistoryOptions(options, yes || no, error)) return std::nullopt;
  return options;
}

int ExitStatus(bool errorEnded, bool stepOk, int tablesUnusable, int tablesSkipped) {
  return report::RunExitStatus(errorEnded, stepOk, tablesUnusable, tablesSkipped);
}

std::vector<std::string> SurveyLines(const report::Step1Record& survey) {
  std::vector<std::string> lines;
  bool inUse = false;
  for (const report::LockFileRecord& lock : survey.lockFiles) {
    if (lock.action == report::LockAction::Absent) continue;
    if (lock.heldBy) {
      inUse = true;
      lines.push_back("lock: " + EscapeText(lock.path) + " held by " +
                      std::to_string(lock.heldBy->pid) + " " + EscapeText(lock.heldBy->command));
    } else {
      lines.push_back("lock: " + EscapeText(lock.path) + " stale");
    }
  }
  if (survey.posWindow != report::PosWindowState::Absent) {
    inUse = true;
    lines.push_back("pos: running");
  }
  if (inUse)
    lines.push_back(
        "note: a live process is using the tables; a table it is changing may read as damaged");
  return lines;
}

bool IsWindowsPath(const std::string& file) {
  return file.size() > 2 && std::isalpha(static_cast<unsigned char>(file[0])) && file[1] == ':' &&
         (file[2] == '\\' || file[2] == '/');
}

namespace {

void PrintLine(std::ostream& out, const std::string& line) {
  out << line << '\n';
  out.flush();
}

}  // namespace

void EventPrinter::AddLine(FormList list, const std::string& text) {
  PrintLine(out_, "lst" + std::to_string(static_cast<int>(list)) + ": " + EscapeText(text));
}

void EventPrinter::ClearList(FormList list) {
  PrintLine(out_, "lst" + std::to_string(static_cast<int>(list)) + ": <cleared>");
}

void EventPrinter::SetLabelText(const std::string& text) {
  PrintLine(out_, "lbl1: " + EscapeText(text));
}

void EventPrinter::SetProgress(int position, int maximum) {
  PrintLine(out_, "pb1: " + std::to_string(position) + "/" + std::to_string(maximum));
}

platform::DialogResult ConsoleDialogs::MessageDlg(const std::string& text,
                                                  platform::DialogKind kind,
                                                  platform::DialogButtons buttons) {
  using platform::DialogButtons;
  using platform::DialogResult;
  PrintLine(out_, std::string("dialog ") + platform::DialogTitle(kind) + ": " + EscapeText(text));
  DialogResult result;
  if (answers_ == Answers::Ask)
    result = Ask(buttons);
  else if (buttons == DialogButtons::Ok)
    result = DialogResult::Ok;
  else if (answers_ == Answers::No && text == "ShutDown PC")
    result = DialogResult::No;
  else
    result = DialogResult::Yes;
  PrintLine(out_, std::string("answer: ") + (result == DialogResult::Ok    ? "OK"
                                             : result == DialogResult::Yes ? "Yes"
                                                                           : "No"));
  return result;
}

platform::DialogResult ConsoleDialogs::Ask(platform::DialogButtons buttons) {
  using platform::DialogButtons;
  using platform::DialogResult;
  for (;;) {
    prompt_ << (buttons == DialogButtons::YesNo ? "Yes or No? [y/n] " : "Press Enter for OK ");
    prompt_.flush();
    std::string reply;
    if (!std::getline(in_, reply)) {
      prompt_ << '\n';
      return buttons == DialogButtons::YesNo ? DialogResult::No : DialogResult::Ok;
    }
    if (!reply.empty() && reply.back() == '\r') reply.pop_back();
    if (buttons == DialogButtons::Ok) return DialogResult::Ok;
    if (reply == "y" || reply == "Y" || reply == "yes" || reply == "Yes") return DialogResult::Yes;
    if (reply == "n" || reply == "N" || reply == "no" || reply == "No") return DialogResult::No;
  }
}

void ConsoleDialogs::ErrorBox(const std::string& text) {
  PrintLine(out_, "error: " + EscapeText(text));
}

void ReportingPowerOff::AcquireShutdownRight() {
  if (real_) real_->AcquireShutdownRight();
}

bool ReportingPowerOff::RequestShutdown(unsigned flags) {
  if (!real_) {
    PrintLine(out_, "power-off: " + std::to_string(flags) + " simulated");
    return true;
  }
  const bool accepted = real_->RequestShutdown(flags);
  PrintLine(out_, "power-off: " + std::to_string(flags) + (accepted ? " accepted" : " refused"));
  return accepted;
}

void PauseCountingServices::Sleep(int milliseconds) {
  if (milliseconds <= 0) return;
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  paused_ += std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now() - start)
                 .count();
}

namespace {

// The run's metrics, merged with the other kind's last run kept in the file; a failure is named
// on stderr and leaves the run's outcome as it was.
void WriteMetrics(const Options& options, const report::RunReport& runReport,
                  std::chrono::steady_clock::duration duration, int status,
                  const MetricsWriter& writeMetrics) {
  const std::string& file = options.metricsFile;
  std::cout.flush();
  if (!writeMetrics) {
    std::cerr << "zelutil-console: --metrics is not available on this system\n";
    return;
  }
  const std::string kind = options.checkOnly ? "check" : "run";
  const std::string text = report::MetricsText(runReport, kind, std::chrono::system_clock::now(),
                                               std::chrono::duration<double>(duration), status);
  const auto compose = [&](const std::string& earlier) {
    return earlier.empty() ? text : report::MergeMetrics(earlier, text, kind);
  };
  std::string error;
  if (!writeMetrics(file, compose, error))
    std::cerr << "zelutil-console: the metrics could not be written to " << EscapeText(file) << ": "
              << EscapeText(error) << "\n";
}

}  // namespace

int RunConsole(const Options& options, platform::Platform& platform,
               const PauseCountingServices& system, EventPrinter& printer,
               const MetricsWriter& writeMetrics) {
  TForm1 form(platform, printer);
  form.Report.program = "zelutil-console";
  if (!options.reportFile.empty()) {
    // A Windows path ("C:\\...") names a file on drive C:, as everywhere in ZelUtil.
    const std::string& file = options.reportFile;
    form.SetReportFile(IsWindowsPath(file) ? platform::MapWindowsPath(file).string() : file);
  }
  if (options.checkOnly) {
    form.SetCheckOnly(true);
    form.SurveyStation();  // before the tests, so the technician reads it first
    for (const std::string& line : SurveyLines(form.Report.step1)) std::cout << line << '\n';
    std::cout.flush();
  }
  const auto start = std::chrono::steady_clock::now();
  form.FormActivate();
  if (options.timing) {
    const long long total = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
    std::cout.flush();
    std::cerr << "timing: run " << total << " ms, pauses " << system.PausedMilliseconds()
              << " ms, run without pauses " << total - system.PausedMilliseconds() << " ms\n";
  }
  const int status = form.ExitStatus();
  if (!options.metricsFile.empty())
    WriteMetrics(options, form.Report, std::chrono::steady_clock::now() - start, status,
                 writeMetrics);
  return status;
}

}  // namespace zel::console
