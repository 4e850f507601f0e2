// zelutil-console end to end: arguments, the error path, a failed Step 1 and whole runs on a
// demo station. Power-off is always simulated and no display or system bus is used.
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <sstream>

#include "tools/demostation/DemoStation.h"

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
    if (stationError_.isEmpty() && !QDir(station_.path() + "/drive_c").exists()) {
      zel::demostation::StationOptions options;
      options.prefix = station_.path().toStdString();
      options.scale = 5;
      std::ostringstream progress;
      try {
        zel::demostation::BuildStation(options, progress);
      } catch (const std::exception& e) {
        stationError_ = QString::fromStdString(e.what());
      }
    }
    if (!stationError_.isEmpty()) QFAIL(qPrintable(stationError_));
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
};

QTEST_GUILESS_MAIN(ConsoleRunTest)
#include "ConsoleRunTest.moc"
