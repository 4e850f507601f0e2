// zelcheck.exe --locks under Wine: a lock file no program keeps open is stale, as the Linux
// zelcheck says; one a Windows program keeps open is in use, found by a sharing violation.
#include <QProcess>
#include <QtTest>

#include "tests/windows/WineSupport.h"

using zel::test::OutputLines;
using zel::test::RunProgram;

class WindowsLocksTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { zel::test::UseWindowsBuild("x64"); }

  void staleAndInUse_data() {
    QTest::addColumn<QString>("build");
    for (const QString& build : zel::test::WindowsBuilds())
      QTest::newRow(qPrintable(build)) << build;
  }
  void staleAndInUse() {
    ZEL_USE_WINDOWS_BUILD();
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    const auto built =
        RunProgram(zel::test::WindowsProgram("zel-demostation.exe"),
                   {"--scale", "10", "--damage", "stale-locks:DISPDATA"}, wine.Environment());
    QVERIFY2(built.exitCode == 0, qPrintable(built.out + built.err));
    const QString zelcheck = zel::test::WindowsProgram("zelcheck.exe");
    const QString folder = "C:\\ZELPOS\\DISPDATA";

    const auto stale = RunProgram(zelcheck, {"--locks", folder}, wine.Environment());
    QCOMPARE(stale.exitCode, 0);
    const QStringList staleLines = OutputLines(stale.out);
    QCOMPARE(staleLines, (QStringList{folder + "\\PARADOX.LCK: 46 bytes, stale",
                                      folder + "\\PDOXUSRS.LCK: 46 bytes, stale"}));
    // The Linux zelcheck sees the same files the same way.
    const QString hostFolder = wine.Path() + "/drive_c/ZELPOS/DISPDATA";
    const auto onLinux =
        RunProgram(ZEL_ZELCHECK, {"--locks", hostFolder}, QProcessEnvironment::systemEnvironment());
    QCOMPARE(OutputLines(onLinux.out).replaceInStrings(hostFolder + "/", folder + "\\"),
             staleLines);

    // A Windows program reading the lock file as its input keeps it open.
    QProcess holder;
    holder.setProcessEnvironment(wine.Environment());
    holder.start("wine", {"cmd", "/c", "ping -n 30 127.0.0.1 > nul < " + folder + "\\PARADOX.LCK"});
    QVERIFY(holder.waitForStarted());
    QStringList held;
    for (int attempt = 0; attempt < 40; ++attempt) {
      QTest::qWait(250);
      held = OutputLines(RunProgram(zelcheck, {"--locks", folder}, wine.Environment()).out);
      if (held.value(0) != staleLines.value(0)) break;
    }
    QCOMPARE(held, (QStringList{folder + "\\PARADOX.LCK: 46 bytes, in use by another program "
                                         "(Windows does not say which)",
                                folder + "\\PDOXUSRS.LCK: 46 bytes, stale"}));
    holder.kill();
    holder.waitForFinished(10000);
  }
};

QTEST_GUILESS_MAIN(WindowsLocksTest)
#include "tst_windows_locks.moc"
