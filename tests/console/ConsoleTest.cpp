// The console front end's arguments, output grammar, dialogs and power-off reports.
#include <QtTest>
#include <sstream>

#include "tools/console/Console.h"

using zel::console::Answers;
using zel::platform::DialogButtons;
using zel::platform::DialogKind;
using zel::platform::DialogResult;

Q_DECLARE_METATYPE(DialogButtons)
Q_DECLARE_METATYPE(DialogResult)

namespace {

class FixedPowerOff : public zel::platform::PowerOff {
 public:
  bool accept = true;
  int rights = 0;
  std::vector<unsigned> requests;
  void AcquireShutdownRight() override { ++rights; }
  bool RequestShutdown(unsigned flags) override {
    requests.push_back(flags);
    return accept;
  }
};

}  // namespace

class ConsoleTest : public QObject {
  Q_OBJECT

 private slots:
  void arguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("answers");
    QTest::addColumn<bool>("simulate");
    QTest::addColumn<bool>("help");
    QTest::newRow("none") << QStringList{} << true << int(Answers::Ask) << false << false;
    QTest::newRow("yes") << QStringList{"--yes"} << true << int(Answers::Yes) << false << false;
    QTest::newRow("no, simulated")
        << QStringList{"--no", "--simulate-power-off"} << true << int(Answers::No) << true << false;
    QTest::newRow("help") << QStringList{"--help"} << true << int(Answers::Ask) << false << true;
    QTest::newRow("timing") << QStringList{"--yes", "--timing"} << true << int(Answers::Yes)
                            << false << false;
    QTest::newRow("yes and no") << QStringList{"--yes", "--no"} << false << 0 << false << false;
    QTest::newRow("unknown option") << QStringList{"--force"} << false << 0 << false << false;
    QTest::newRow("operand") << QStringList{"C:\\ZELPOS"} << false << 0 << false << false;
    QTest::newRow("empty") << QStringList{""} << false << 0 << false << false;
  }
  void arguments() {
    QFETCH(QStringList, args);
    QFETCH(bool, valid);
    QFETCH(int, answers);
    QFETCH(bool, simulate);
    QFETCH(bool, help);
    std::vector<std::string> storage;
    for (const QString& a : args) storage.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (const auto& s : storage) argv.push_back(s.c_str());
    std::string error;
    const auto options = zel::console::ParseArguments(int(argv.size()), argv.data(), error);
    QCOMPARE(options.has_value(), valid);
    if (!valid) {
      QVERIFY(!error.empty());
      return;
    }
    QCOMPARE(int(options->answers), answers);
    QCOMPARE(options->simulatePowerOff, simulate);
    QCOMPARE(options->help, help);
  }

  // --check-only, --report FILE (or --report=FILE) and --version.
  void technicianOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("checkOnly");
    QTest::addColumn<QString>("reportFile");
    QTest::addColumn<bool>("version");
    QTest::newRow("check only") << QStringList{"--check-only"} << true << true << "" << false;
    QTest::newRow("check with report") << QStringList{"--check-only", "--report", "/tmp/r.json"}
                                       << true << true << "/tmp/r.json" << false;
    QTest::newRow("report joined")
        << QStringList{"--yes", "--report=C:\\r.json"} << true << false << "C:\\r.json" << false;
    QTest::newRow("report then option")
        << QStringList{"--report", "--yes"} << false << false << "" << false;
    QTest::newRow("version") << QStringList{"--version"} << true << false << "" << true;
    QTest::newRow("report without file")
        << QStringList{"--report"} << false << false << "" << false;
    QTest::newRow("report empty") << QStringList{"--report="} << false << false << "" << false;
    QTest::newRow("report empty word")
        << QStringList{"--report", ""} << false << false << "" << false;
  }
  void technicianOptions() {
    QFETCH(QStringList, args);
    QFETCH(bool, valid);
    QFETCH(bool, checkOnly);
    QFETCH(QString, reportFile);
    QFETCH(bool, version);
    std::vector<std::string> storage;
    for (const QString& a : args) storage.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (const auto& s : storage) argv.push_back(s.c_str());
    std::string error;
    const auto options = zel::console::ParseArguments(int(argv.size()), argv.data(), error);
    QCOMPARE(options.has_value(), valid);
    if (!valid) {
      QVERIFY(QString::fromStdString(error).contains("--report"));
      return;
    }
    QCOMPARE(options->checkOnly, checkOnly);
    QCOMPARE(QString::fromStdString(options->reportFile), reportFile);
    QCOMPARE(options->version, version);
  }

  // --history takes only --json and --history-dir, and those only with it.
  void historyOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");  // empty: accepted
    QTest::addColumn<bool>("json");
    QTest::addColumn<QString>("dir");
    QTest::newRow("plain") << QStringList{"--history"} << "" << false << "";
    QTest::newRow("json, folder") << QStringList{"--json", "--history", "--history-dir", "/x"} << ""
                                  << true << "/x";
    QTest::newRow("folder joined")
        << QStringList{"--history", "--history-dir=/y"} << "" << false << "/y";
    QTest::newRow("folder missing") << QStringList{"--history", "--history-dir"}
                                    << "--history-dir needs a folder" << false << "";
    QTest::newRow("folder empty") << QStringList{"--history", "--history-dir="}
                                  << "--history-dir needs a folder" << false << "";
    QTest::newRow("json alone") << QStringList{"--json"} << "--json is only for --history" << false
                                << "";
    QTest::newRow("folder alone") << QStringList{"--history-dir", "/x"}
                                  << "--history-dir is only for --history" << false << "";
    for (const char* run : {"--check-only", "--yes", "--timing", "--simulate-power-off"})
      QTest::newRow(run) << QStringList{"--history", run} << "--history lists reports" << false
                         << "";
    QTest::newRow("with metrics") << QStringList{"--history", "--metrics", "/m.prom"}
                                  << "--history lists reports" << false << "";
  }
  void historyOptions() {
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QFETCH(bool, json);
    QFETCH(QString, dir);
    std::vector<std::string> storage;
    for (const QString& a : args) storage.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (const auto& s : storage) argv.push_back(s.c_str());
    std::string message;
    const auto options = zel::console::ParseArguments(int(argv.size()), argv.data(), message);
    QCOMPARE(options.has_value(), error.isEmpty());
    if (!options) {
      QVERIFY2(QString::fromStdString(message).startsWith(error), message.c_str());
      return;
    }
    QVERIFY(options->history);
    QCOMPARE(options->historyJson, json);
    QCOMPARE(QString::fromStdString(options->historyDir), dir);
  }

  // The lines a check prints before its tests.
  void surveyLines() {
    namespace zr = zel::report;
    zr::Step1Record survey;
    survey.lockFiles = {{"C:\\PDOXUSRS.NET", zr::LockAction::Reported, std::nullopt},
                        {"C:\\ZELPOS\\DISPDATA\\PARADOX.LCK", zr::LockAction::Absent, std::nullopt},
                        {"C:\\ZELPOS\\PERMDATA\\PARADOX.LCK", zr::LockAction::Reported,
                         zr::ProcessRef{812, "wine C:\\ZelPos\\ZelPos.exe\n"}}};
    QCOMPARE(
        zel::console::SurveyLines(survey),
        (std::vector<std::string>{
            "lock: C:\\PDOXUSRS.NET stale",
            "lock: C:\\ZELPOS\\PERMDATA\\PARADOX.LCK held by 812 wine C:\\ZelPos\\ZelPos.exe\\n",
            "note: a live process is using the tables; a table it is changing may read as "
            "damaged"}));
    survey.lockFiles.pop_back();
    QCOMPARE(zel::console::SurveyLines(survey),
             std::vector<std::string>{"lock: C:\\PDOXUSRS.NET stale"});
    survey.posWindow = zr::PosWindowState::StillThere;
    QCOMPARE(zel::console::SurveyLines(survey),
             (std::vector<std::string>{
                 "lock: C:\\PDOXUSRS.NET stale", "pos: running",
                 "note: a live process is using the tables; a table it is changing may read as "
                 "damaged"}));
    QVERIFY(zel::console::SurveyLines({}).empty());
  }

  void exitStatus_data() {
    QTest::addColumn<bool>("errorEnded");
    QTest::addColumn<bool>("stepOk");
    QTest::addColumn<int>("unusable");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("status");
    QTest::newRow("all usable") << false << true << 0 << 0 << 0;
    QTest::newRow("unusable") << false << true << 1 << 0 << 1;
    QTest::newRow("skipped") << false << true << 0 << 12 << 1;
    QTest::newRow("step 1 failed") << false << false << 0 << 0 << 2;
    QTest::newRow("error after step 1") << true << true << 1 << 0 << 3;
    QTest::newRow("error at start") << true << false << 0 << 0 << 3;
  }
  void exitStatus() {
    QFETCH(bool, errorEnded);
    QFETCH(bool, stepOk);
    QFETCH(int, unusable);
    QFETCH(int, skipped);
    QFETCH(int, status);
    QCOMPARE(zel::console::ExitStatus(errorEnded, stepOk, unusable, skipped), status);
  }

  void escaping_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("escaped");
    QTest::newRow("plain") << QByteArray("Deleting c:\\ZELPOS\\TEMPDATA\\PARADOX.LCK .........")
                           << QByteArray("Deleting c:\\ZELPOS\\TEMPDATA\\PARADOX.LCK .........");
    QTest::newRow("CR LF") << QByteArray("a\r\nb") << QByteArray("a\\r\\nb");
    QTest::newRow("tab") << QByteArray("a\tb") << QByteArray("a\\tb");
    QTest::newRow("terminal escape") << QByteArray("a\x1b[2Jb") << QByteArray("a\\x1B[2Jb");
    QTest::newRow("8-bit kept") << QByteArray("caf\xC3\xA9") << QByteArray("caf\xC3\xA9");
  }
  void escaping() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, escaped);
    QCOMPARE(QByteArray::fromStdString(zel::console::EscapeText(text.toStdString())), escaped);
  }

  void eventLines() {
    std::ostringstream out;
    zel::console::EventPrinter printer(out);
    printer.ClearList(FormList::Lst1);
    printer.AddLine(FormList::Lst2, "Step 1");
    printer.AddLine(FormList::Lst3, "");
    printer.MakeLastLineCurrent(FormList::Lst3);  // drawing only: nothing printed
    printer.AddLine(FormList::Lst1, "two\nlines");
    printer.SetLabelText("Please wait while Deleting *.Net and *.LCK files....");
    printer.SetLabelFlashing(true);
    printer.SetProgress(1, 14);
    QCOMPARE(QString::fromStdString(out.str()),
             QString("lst1: <cleared>\nlst2: Step 1\nlst3: \nlst1: two\\nlines\n"
                     "lbl1: Please wait while Deleting *.Net and *.LCK files....\npb1: 1/14\n"));
  }

  void dialogs_data() {
    QTest::addColumn<int>("answers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<DialogButtons>("buttons");
    QTest::addColumn<QString>("input");
    QTest::addColumn<DialogResult>("result");
    QTest::addColumn<QString>("answerLine");
    const auto YesNo = DialogButtons::YesNo;
    const auto Ok = DialogButtons::Ok;
    QTest::newRow("typed y") << int(Answers::Ask) << "ShutDown PC" << YesNo << "y\n"
                             << DialogResult::Yes << "Yes";
    QTest::newRow("typed no after noise")
        << int(Answers::Ask) << "ShutDown PC" << YesNo << "maybe\nno\n"
        << DialogResult::No << "No";
    QTest::newRow("end of input: No")
        << int(Answers::Ask) << "ShutDown PC" << YesNo << "" << DialogResult::No << "No";
    QTest::newRow("Enter: OK") << int(Answers::Ask) << "Step 1 failed" << Ok << "\n"
                               << DialogResult::Ok << "OK";
    QTest::newRow("end of input: OK")
        << int(Answers::Ask) << "Step 1 failed" << Ok << "" << DialogResult::Ok << "OK";
    QTest::newRow("--yes") << int(Answers::Yes) << "ShutDown PC" << YesNo << "n\n"
                           << DialogResult::Yes << "Yes";
    QTest::newRow("--yes, OK") << int(Answers::Yes) << "Step 1 failed" << Ok << ""
                               << DialogResult::Ok << "OK";
    QTest::newRow("--no") << int(Answers::No) << "ShutDown PC" << YesNo << "y\n"
                          << DialogResult::No << "No";
    QTest::newRow("--no, other question")
        << int(Answers::No) << "Replace?" << YesNo << "" << DialogResult::Yes << "Yes";
    QTest::newRow("--no, OK") << int(Answers::No) << "Step 1 failed" << Ok << "" << DialogResult::Ok
                              << "OK";
  }
  void dialogs() {
    QFETCH(int, answers);
    QFETCH(QString, text);
    QFETCH(DialogButtons, buttons);
    QFETCH(QString, input);
    QFETCH(DialogResult, result);
    QFETCH(QString, answerLine);
    std::istringstream in(input.toStdString());
    std::ostringstream out;
    std::ostringstream prompt;
    zel::console::ConsoleDialogs dialogs(Answers(answers), in, out, prompt);
    QCOMPARE(dialogs.MessageDlg(text.toStdString(), DialogKind::Confirmation, buttons), result);
    QCOMPARE(QString::fromStdString(out.str()),
             "dialog Confirm: " + text + "\nanswer: " + answerLine + "\n");
    QCOMPARE(prompt.str().empty(), answers != int(Answers::Ask));
  }

  void dialogKindsAndErrors() {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream prompt;
    zel::console::ConsoleDialogs dialogs(Answers::Yes, in, out, prompt);
    dialogs.MessageDlg("w", DialogKind::Warning, DialogButtons::Ok);
    dialogs.MessageDlg("i", DialogKind::Information, DialogButtons::Ok);
    dialogs.ErrorBox("Invalid filename.");
    QCOMPARE(QString::fromStdString(out.str()),
             QString("dialog Warning: w\nanswer: OK\ndialog Information: i\nanswer: OK\n"
                     "error: Invalid filename.\n"));
  }

  void powerOff() {
    std::ostringstream out;
    FixedPowerOff real;
    zel::console::ReportingPowerOff reporting(&real, out);
    reporting.AcquireShutdownRight();
    QVERIFY(reporting.RequestShutdown(12));
    real.accept = false;
    QVERIFY(!reporting.RequestShutdown(12));
    zel::console::ReportingPowerOff simulated(nullptr, out);
    simulated.AcquireShutdownRight();
    QVERIFY(simulated.RequestShutdown(12));
    QCOMPARE(real.rights, 1);
    QCOMPARE(real.requests, (std::vector<unsigned>{12, 12}));
    QCOMPARE(QString::fromStdString(out.str()),
             QString("power-off: 12 accepted\npower-off: 12 refused\npower-off: 12 simulated\n"));
  }
};

QTEST_GUILESS_MAIN(ConsoleTest)
#include "ConsoleTest.moc"
