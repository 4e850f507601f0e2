// zelutil-console end to end: arguments, the error path, a failed Step 1 and whole runs on a
// demo station. Power-off is always simulated and no display or system bus is used.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <sstream>

#include "tests/support/DemoStations.h"
#include "tests/support/TreeSnapshot.h"

namespace {

struct Result {
  int status = -1;
  QString out;
  QString err;
};

Result RunConsole(const QString& prefix, const QStringList& args, const QByteArray& input = {}) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("WINEPREFIX", prefix);
  env.remove("DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zelutil-test-bus");
  process.setProcessEnvironment(env);
  process.start(ZEL_CONSOLE, args);
  process.write(input);
  process.closeWriteChannel();
  if (!process.waitForFinished(240000)) process.kill();
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput()),
          QString::fromUtf8(process.readAllStandardError())};
}

}  // namespace

class ConsoleRunTest : public QObject {
  Q_OBJECT

  QTemporaryDir station_;
  QString stationError_;  // why the demo station could not be built

 private slots:
  void initTestCase() { QVERIFY(station_.isValid()); }

  void arguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::newRow("unknown") << QStringList{"--bogus"} << 64;
    QTest::newRow("yes and no") << QStringList{"--yes", "--no"} << 64;
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("report without file") << QStringList{"--yes", "--report"} << 64;
  }
  void arguments() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QTemporaryDir prefix;
    const Result r = RunConsole(prefix.path(), args);
    QCOMPARE(r.status, status);
    QVERIFY((status == 0 ? r.out : r.err).contains("Usage: zelutil-console"));
    QVERIFY(!QDir(prefix.path() + "/drive_c").exists());  // nothing ran
  }

  void version() {
    QTemporaryDir prefix;
    const Result r = RunConsole(prefix.path(), {"--version"});
    QCOMPARE(r.status, 0);
    QVERIFY2(
        QRegularExpression("^zelutil-console \\d+\\.\\d+(\\.\\d+)*\n$").match(r.out).hasMatch(),
        qPrintable(r.out));
    QVERIFY(!QDir(prefix.path() + "/drive_c").exists());
  }

  void missingLogFolder() {
    QTemporaryDir prefix;
    const Result r = RunConsole(prefix.path(), {"--yes", "--simulate-power-off"});
    QCOMPARE(r.status, 3);
    QCOMPARE(r.out, QString("error: Invalid filename.\n"));
  }

  void stepOneFailure() {
    QTemporaryDir prefix;
    QVERIFY(QDir().mkpath(prefix.path() + "/drive_c/ZelPos"));
    const Result r = RunConsole(prefix.path(), {"--yes", "--simulate-power-off"});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.out.startsWith("lbl1: Please wait while Deleting *.Net and *.LCK files....\n"
                              "lst1: <cleared>\nlst2: Step 1\n"
                              "lst2: Reset database control files.......\n"),
             qPrintable(r.out));
    QVERIFY(r.out.contains("\nlst1: Testing DB Control File.........Fail"));
    QVERIFY(r.out.contains("\ndialog Warning: "));
    QVERIFY(r.out.contains(" simulated\n"));
    QVERIFY(!r.out.contains("Step 2"));
  }

  // --timing reports the run and the pauses inside it, apart from the event lines.
  void timingReport() {
    QTemporaryDir prefix;
    QVERIFY(QDir().mkpath(prefix.path() + "/drive_c/ZelPos"));
    const Result r = RunConsole(prefix.path(), {"--yes", "--simulate-power-off", "--timing"});
    QCOMPARE(r.status, 2);
    QVERIFY(!r.out.contains("timing:"));
    const auto match =
        QRegularExpression(
            "timing: run (\\d+) ms, pauses (\\d+) ms, run without pauses (\\d+) ms\n")
            .match(r.err);
    QVERIFY2(match.hasMatch(), qPrintable(r.err));
    const qint64 run = match.captured(1).toLongLong();
    const qint64 pauses = match.captured(2).toLongLong();
    QVERIFY(pauses >= 2000);  // Step 1's two pauses of a second
    QVERIFY(run >= pauses);
    QCOMPARE(match.captured(3).toLongLong(), run - pauses);
  }

  void healthyStation_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("ending");
    const QString question =
        "lbl1: File check complete....Please ShutDown this PC !!!!\ndialog Confirm: ShutDown PC\n";
    QTest::newRow("--no") << QStringList{"--no", "--simulate-power-off"} << QByteArray()
                          << question + "answer: No\n";
    QTest::newRow("--yes") << QStringList{"--yes", "--simulate-power-off"} << QByteArray()
                           << question + "answer: Yes\npower-off: 12 simulated\n";
    QTest::newRow("typed y") << QStringList{"--simulate-power-off"} << QByteArray("y\n")
                             << question + "answer: Yes\npower-off: 12 simulated\n";
    QTest::newRow("end of input") << QStringList{"--simulate-power-off"} << QByteArray()
                                  << question + "answer: No\n";
  }
  void healthyStation() {
    if (!BuildStationOnce(station_, stationError_)) QFAIL(qPrintable(stationError_));
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QString, ending);
    const Result r = RunConsole(station_.path(), args, input);
    QVERIFY2(r.status == 0, qPrintable(r.out.right(2000) + r.err.right(2000)));
    QVERIFY2(r.out.endsWith(ending), qPrintable(r.out.right(500)));
    QVERIFY(r.out.contains("\nlst2: Reset database control files.......Done\nlst2: Step 2\n"));
    QVERIFY(r.out.contains("\npb1: 1/"));
    QVERIFY(!r.out.contains("lst3: D"));  // nothing failed
  }

  // --- Metrics for node_exporter's textfile collector.

  // A check of a damaged station names its unusable table; the run after it repairs and keeps
  // the check's own samples in the same file.
  void metricsOfACheckAndARun() {
    QTemporaryDir dir;
    QCOMPARE(zel::test::BuildDemoStation(dir.path(), {"db-header:TEMPDATA/PUMPSALE"}), QString());
    const QString metrics = dir.filePath("zelutil.prom");
    const Result check = RunConsole(dir.path(), {"--check-only", "--metrics", metrics});
    QCOMPARE(check.status, 1);
    QFile file(metrics);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString checked = QString::fromUtf8(file.readAll());
    file.close();
    for (const char* line :
         {"zelutil_last_run_exit_status{kind=\"check\"} 1\n",
          "zelutil_table_unusable{folder=\"TEMPDATA\",table=\"PUMPSALE\"} 1\n",
          "zelutil_tables{state=\"unusable\"} 1\n", "zelutil_lock_files{state=\"held\"} 0\n",
          "# TYPE zelutil_tables gauge\n"})
      QVERIFY2(checked.contains(line), qPrintable(line + QString(" not in:\n") + checked));
    QVERIFY(checked.contains(QRegularExpression(
        "\nzelutil_last_run_timestamp_seconds\\{kind=\"check\"\\} 1[0-9.e+]+\n")));

    const Result run =
        RunConsole(dir.path(), {"--yes", "--simulate-power-off", "--metrics", metrics});
    QCOMPARE(run.status, 0);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString both = QString::fromUtf8(file.readAll());
    for (const char* line :
         {"zelutil_last_run_exit_status{kind=\"run\"} 0\n",
          "zelutil_last_run_exit_status{kind=\"check\"} 1\n",
          "zelutil_tables{state=\"replaced\"} 1\n", "zelutil_tables{state=\"unusable\"} 0\n"})
      QVERIFY2(both.contains(line), qPrintable(line + QString(" not in:\n") + both));
    QVERIFY(!both.contains("zelutil_table_unusable{"));
    QCOMPARE(both.count("# TYPE zelutil_last_run_exit_status gauge"), 1);
    QVERIFY(QDir(dir.path()).entryList({".zeltmp-*"}, QDir::Hidden | QDir::Files).isEmpty());
  }

  // --- The till's history.

  // Real runs of a demo station with different damage, a check in between and a report cut
  // short: newest first, the check among them, the cut report listed as unreadable (exit 1),
  // and the table replaced in both runs named as one that keeps breaking.
  void historyOfRealRuns() {
    QTemporaryDir dir;
    const QString prefix = dir.filePath("prefix");
    QCOMPARE(zel::test::BuildDemoStation(prefix, {"db-header:TEMPDATA/PUMPSALE"}), QString());
    const QString checks = dir.filePath("checks");
    QVERIFY(QDir().mkdir(checks));
    const QString reports = prefix + "/drive_c/ZELPOS/ZelUtil.Reports";

    QCOMPARE(RunConsole(prefix, {"--check-only", "--report", checks + "/check-1.json"}).status, 1);
    QCOMPARE(RunConsole(prefix, {"--yes", "--simulate-power-off"}).status, 0);
    // The next crash: the same table's header again, and an index of another table lost.
    QFile table(prefix + "/drive_c/ZELPOS/TEMPDATA/PUMPSALE.DB");
    QVERIFY(table.open(QIODevice::ReadWrite));
    table.write(QByteArray(8, '\0'));
    table.close();
    QVERIFY(QFile::remove(prefix + "/drive_c/ZELPOS/CONFIGDATA/GRADE.PX"));
    QTest::qWait(1100);  // a report of its own second
    QCOMPARE(RunConsole(prefix, {"--yes", "--simulate-power-off"}).status, 0);
    const QStringList runs = QDir(reports).entryList({"*.json"}, QDir::Files, QDir::Name);
    QCOMPARE(runs.size(), 2);
    // A report cut short, as a full disk or a power cut might leave one.
    QFile first(reports + "/" + runs[0]);
    QVERIFY(first.open(QIODevice::ReadOnly));
    const QByteArray whole = first.readAll();
    QFile cut(reports + "/20200101-000000.json");
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(whole.left(whole.size() / 2));
    cut.close();

    const Result text = RunConsole(prefix, {"--history", "--history-dir", checks});
    QCOMPARE(text.status, 1);
    const QStringList lines = text.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    const QString counts = "  exit 0  tested %1  unusable 0  repaired %2  replaced 1  restored 0  ";
    QVERIFY2(lines[0].contains(
                 QRegularExpression("^\\S+  run  " + QString(counts).arg(61).arg(1) +
                                    "C:\\\\ZelPos\\\\ZelUtil\\.Reports\\\\" + runs[1] + "$")),
             qPrintable(text.out));
    QVERIFY2(lines[1].endsWith(QString(counts).arg(61).arg(0) + "C:\\ZelPos\\ZelUtil.Reports\\" +
                               runs[0]),
             qPrintable(text.out));
    QVERIFY2(
        lines[2].contains(QRegularExpression(
            "^\\S+  check  exit 1  tested 61  unusable 1  repaired 0  replaced 0  restored 0  " +
            QRegularExpression::escape(checks + "/check-1.json") + "$")),
        qPrintable(text.out));
    QVERIFY2(lines[3].startsWith("unreadable: C:\\ZelPos\\ZelUtil.Reports\\20200101-000000.json: "
                                 "not a complete report"),
             qPrintable(text.out));
    QCOMPARE(lines[4],
             "keeps breaking: TEMPDATA\\PUMPSALE needed a repair in 2 of the last 2 runs");

    const Result json = RunConsole(prefix, {"--history", "--json", "--history-dir", checks});
    QCOMPARE(json.status, 1);
    const QJsonObject document = QJsonDocument::fromJson(json.out.toUtf8()).object();
    QCOMPARE(document["reports"].toArray().size(), 3);
    QCOMPARE(document["reports"][0]["neededRepair"].toArray().size(), 2);
    QCOMPARE(document["unreadable"].toArray().size(), 1);
    QCOMPARE(document["keepsBreaking"][0]["table"].toString(), "TEMPDATA\\PUMPSALE");
  }

  // --- One run at a time.

  // A second start while the first waits at its closing question ends at once and changes no
  // file; a read-only check and a run on another prefix are not held up; the first run then
  // goes on as if nothing had happened.
  void secondRunEndsAtOnce() {
    QVERIFY2(BuildStationOnce(busyStation_, busyError_), qPrintable(busyError_));
    const QString prefix = busyStation_.path();
    QProcess first;
    StartConsole(first, prefix, {"--simulate-power-off"});
    QVERIFY2(WaitForOutput(first, "dialog Confirm: ShutDown PC\n"),
             qPrintable(first.errorString()));

    const auto before = zel::test::SnapshotTree(prefix);
    const Result second = RunConsole(prefix, {"--yes", "--simulate-power-off"});
    QCOMPARE(second.status, 3);
    QCOMPARE(second.out, QString("error: ZelUtil is already running.\n"));
    const Result again = RunConsole(prefix, {"--no", "--simulate-power-off"});
    QCOMPARE(again.status, 3);
    QCOMPARE(again.out, QString("error: ZelUtil is already running.\n"));
    const auto after = zel::test::SnapshotTree(prefix);
    QVERIFY2(after == before, qPrintable(zel::test::TreeDifference(before, after)));

    QProcess check;  // reads a table without waiting for the run
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WINEPREFIX", prefix);
    check.setProcessEnvironment(env);
    check.start(ZEL_ZELCHECK, {"C:\\ZELPOS\\PERMDATA\\STOCK.DB"});
    QVERIFY(check.waitForFinished(60000));
    QVERIFY2(check.exitCode() == 0, check.readAll().constData());

    QTemporaryDir other;  // another station: a run of its own, here one whose Step 1 fails
    QVERIFY(QDir().mkpath(other.path() + "/drive_c/ZelPos"));
    QCOMPARE(RunConsole(other.path(), {"--yes", "--simulate-power-off"}).status, 2);

    first.write("n\n");
    first.closeWriteChannel();
    QVERIFY(first.waitForFinished(120000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    const QString out = QString::fromUtf8(first.readAllStandardOutput());
    QVERIFY2(out.endsWith("answer: No\n"), qPrintable(out.right(300)));
    QVERIFY(!out.contains("error:"));
  }

  // A run killed at its closing question (a crash, a reset) holds nothing: the next run runs.
  void killedRunDoesNotBlockTheNext() {
    QVERIFY2(BuildStationOnce(busyStation_, busyError_), qPrintable(busyError_));
    const QString prefix = busyStation_.path();
    const QString log = LogFile(prefix);
    QProcess first;
    StartConsole(first, prefix, {"--simulate-power-off"});
    QVERIFY(WaitForOutput(first, "dialog Confirm: ShutDown PC\n"));
    first.kill();  // SIGKILL: no clean-up of any kind
    QVERIFY(first.waitForFinished(10000));
    const int startsBefore = LogStarts(log);
    const Result next = RunConsole(prefix, {"--no", "--simulate-power-off"});
    QVERIFY2(next.status == 0, qPrintable(next.out.right(1000) + next.err.right(1000)));
    QVERIFY(!next.out.contains("error:"));
    QCOMPARE(LogStarts(log), startsBefore + 1);
  }

 private:
  QTemporaryDir busyStation_;
  QString busyError_;

  // A small healthy station in `dir`, built by the first test that needs it; false, with the
  // reason in `error`, when it could not be built.
  static bool BuildStationOnce(const QTemporaryDir& dir, QString& error) {
    if (error.isEmpty() && !QDir(dir.path() + "/drive_c").exists())
      error = zel::test::BuildDemoStation(dir.path());
    return error.isEmpty();
  }

  static void StartConsole(QProcess& process, const QString& prefix, const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WINEPREFIX", prefix);
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zelutil-test-bus");
    process.setProcessEnvironment(env);
    process.start(ZEL_CONSOLE, args);
  }

  // Waits until the process has printed `text` (it keeps what it read for later reading).
  static bool WaitForOutput(QProcess& process, const QByteArray& text) {
    QDeadlineTimer deadline(180000);
    while (!deadline.hasExpired()) {
      if (process.peek(1 << 24).contains(text)) return true;
      if (process.state() == QProcess::NotRunning) return false;
      process.waitForReadyRead(1000);
    }
    return false;
  }

  // The log in the POS folder, whatever case the station gave the folder's name.
  static QString LogFile(const QString& prefix) {
    const QDir driveC(prefix + "/drive_c");
    for (const QString& name : driveC.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
      if (name.compare("ZelPos", Qt::CaseInsensitive) == 0)
        return driveC.filePath(name) + "/ZelUtil.Log";
    return {};
  }

  static int LogStarts(const QString& log) {
    QFile f(log);
    return f.open(QIODevice::ReadOnly) ? int(f.readAll().count("ZEL Util Start.")) : -1;
  }
};

QTEST_GUILESS_MAIN(ConsoleRunTest)
#include "ConsoleRunTest.moc"
