// zelutil-console.exe under Wine and the Linux zelutil-console, each on its own copy of the same
// demo station, print the same event lines and end with the same status: healthy, and each kind
// of damage the builder makes.
#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "tests/support/DemoStations.h"
#include "tests/support/TreeSnapshot.h"
#include "tests/windows/WineSupport.h"

using zel::test::OutputLines;

using zel::test::ContentHashes;
using zel::test::RunProgram;

class WindowsConsoleTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { zel::test::UseWindowsBuild("x64"); }

  void sameRunAsOnLinux_data() {
    QTest::addColumn<QString>("build");
    QTest::addColumn<QStringList>("damages");
    for (const QString& build : zel::test::WindowsBuilds()) {
      QTest::addRow("%s healthy", qPrintable(build)) << build << QStringList{};
      for (const char* kind : {"stale-locks", "px-missing", "px-damaged", "px-stale",
                               "index-missing", "db-header", "db-truncated", "table-missing",
                               "backup-missing", "backup-damaged", "no-log-folder", "log-readonly"})
        QTest::addRow("%s %s", qPrintable(build), kind) << build << QStringList{kind};
      // A kept table whose latest backup is damaged too: restored from the one before.
      QTest::addRow("%s db-header on a kept table, latest backup damaged", qPrintable(build))
          << build << QStringList{"db-header:PERMDATA/ATTEND", "backup-damaged:PERMDATA/ATTEND"};
    }
  }
  void sameRunAsOnLinux() {
    ZEL_USE_WINDOWS_BUILD();
    QFETCH(QStringList, damages);
    zel::test::WinePrefixCopy wine;
    QVERIFY2(!wine.Path().isEmpty(), "cannot copy the template Wine prefix " ZEL_WINE_TEMPLATE);
    QTemporaryDir linux;
    QVERIFY(linux.isValid());
    for (const QString& prefix : {wine.Path(), linux.path()}) {
      const QString error = zel::test::BuildDemoStation(prefix, damages);
      QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    QProcessEnvironment linuxEnv = QProcessEnvironment::systemEnvironment();
    linuxEnv.insert("WINEPREFIX", linux.path());
    linuxEnv.remove("DISPLAY");  // neither run may see a POS window of the test machine
    linuxEnv.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + linux.path() + "/no-system-bus");
    QProcessEnvironment wineEnv = wine.Environment();
    wineEnv.remove("DISPLAY");

    const QStringList args{"--yes", "--simulate-power-off"};
    const auto onLinux = RunProgram(ZEL_CONSOLE, args, linuxEnv);
    const auto onWine = RunProgram(zel::test::WindowsProgram("zelutil-console.exe"), args, wineEnv);
    QVERIFY2(onLinux.finished && onWine.finished, "a console run did not end");
    const QStringList linuxLines = OutputLines(onLinux.out);
    const QStringList wineLines = OutputLines(onWine.out);
    QVERIFY2(!linuxLines.isEmpty(), qPrintable(onLinux.err));
    if (linuxLines != wineLines) {
      for (qsizetype i = 0; i < std::max(linuxLines.size(), wineLines.size()); ++i) {
        const QString a = linuxLines.value(i, "<none>");
        const QString b = wineLines.value(i, "<none>");
        if (a != b)
          QFAIL(qPrintable(QString("line %1 differs:\n  Linux: %2\n  Wine:  %3\nWine's stderr:\n%4")
                               .arg(i + 1)
                               .arg(a, b, onWine.err.right(2000))));
      }
    }
    QCOMPARE(onWine.exitCode, onLinux.exitCode);
  }

  // The Windows run ended at any moment (its processes killed, as a power cut would) leaves a
  // station that the next run heals: every table usable afterwards and the backup tree
  // untouched throughout.
  void killedRunHealedByTheNext_data() {
    QTest::addColumn<QString>("build");
    QTest::addColumn<int>("killAfterMs");
    for (const QString& build : zel::test::WindowsBuilds())
      for (int ms : {200, 600, 1200, 2000, 3000, 4500})
        QTest::addRow("%s %d ms", qPrintable(build), ms) << build << ms;
  }
  void killedRunHealedByTheNext() {
    ZEL_USE_WINDOWS_BUILD();
    QFETCH(int, killAfterMs);
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    const QString error = zel::test::BuildDemoStation(
        wine.Path(),
        {"stale-locks", "px-missing", "db-header", "db-header:PERMDATA/ATTEND", "db-truncated"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const auto backups = [&] { return ContentHashes(wine.Path() + "/drive_c/ShiftBackUp"); };
    const auto before = backups();
    QVERIFY(before.size() > 100);

    const QString console = zel::test::WindowsProgram("zelutil-console.exe");
    QProcess cut;
    cut.setProcessEnvironment(wine.Environment());
    cut.start("wine", {console, "--yes", "--simulate-power-off"});
    QVERIFY(cut.waitForStarted());
    QThread::msleep(static_cast<unsigned long>(killAfterMs));
    RunProgram("wineserver", {"-k"}, wine.Environment());  // every process of this prefix
    cut.waitForFinished(30000);
    RunProgram("wineserver", {"-p"}, wine.Environment());

    const auto healing = RunProgram(console, {"--yes", "--simulate-power-off"}, wine.Environment());
    QVERIFY2(healing.finished, "the run after the cut did not end");
    QVERIFY2(healing.exitCode == 0, qPrintable(healing.out.right(1500) + healing.err));
    const auto check = RunProgram(console, {"--check-only"}, wine.Environment());
    QVERIFY2(check.exitCode == 0, qPrintable(check.out.right(1500)));
    QCOMPARE(backups(), before);
  }
};

QTEST_GUILESS_MAIN(WindowsConsoleTest)
#include "tst_windows_console.moc"
