// Step 1 failing for real in the console front end: a running program holds a lock file, so the
// operator gets the warning, the power-off is requested (simulated here) and the exit status
// says Step 1 failed. No display and no system bus are reachable from the child.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QStringList kFolders{"DISPDATA", "PERMDATA", "CONFIGDATA", "TEMPDATA", "HISTORY"};

QStringList FolderDone(const QString& f) {
  return {"lst1: Deleting c:\\ZELPOS\\" + f + "\\PARADOX.LCK .........",
          "lst1: Deleting C:\\ZELPOS\\" + f + "\\PARADOX.LCK .........Done",
          "lst1: Deleting C:\\ZELPOS\\" + f + "\\PDOXUSRS.LCK .........",
          "lst1: Deleting C:\\ZELPOS\\" + f + " \\PDOXUSRS.LCK .........Done"};
}

}  // namespace

class Step1ConsoleTest : public QObject {
  Q_OBJECT

 private slots:
  void heldLockFileEndsInWarningAndPowerOff() {
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const QString driveC = prefix.path() + "/drive_c";
    for (const QString& folder : kFolders) {
      QVERIFY(QDir().mkpath(driveC + "/ZELPOS/" + folder));
      for (const QString file : {"/PARADOX.LCK", "/PDOXUSRS.LCK"}) {
        QFile lock(driveC + "/ZELPOS/" + folder + file);
        QVERIFY(lock.open(QIODevice::WriteOnly));
      }
    }
    const QString held = driveC + "/ZELPOS/CONFIGDATA/PDOXUSRS.LCK";
    QProcess holder;
    holder.start(QStringLiteral(ZEL_HOLD_LOCK), {held});
    QVERIFY(holder.waitForReadyRead(5000));
    QCOMPARE(holder.readLine(), QByteArray("locked\n"));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WINEPREFIX", prefix.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("DISPLAY");  // no POS window of this machine can be reached
    env.remove("WAYLAND_DISPLAY");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + prefix.path() + "/no-bus");
    QProcess console;
    console.setProcessEnvironment(env);
    console.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    console.start(QStringLiteral(ZEL_CONSOLE), {"--yes", "--simulate-power-off"});
    QVERIFY(console.waitForFinished(60000));
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));

    const QStringList events = QString::fromUtf8(console.readAllStandardOutput()).split('\n');
    QCOMPARE(console.exitStatus(), QProcess::NormalExit);
    QCOMPARE(console.exitCode(), 2);

    const QString failed = "lst1: Deleting C:\\ZELPOS\\CONFIGDATAPDOXUSRS.LCK .........Failed";
    QStringList expectedLst1{"lst1: <cleared>", "lst1: Closing ZelPos Program.......",
                             "lst1: Closing ZelPos Program.......Done",
                             "lst1: Deleting PDOXUSRS.NET File.........",
                             "lst1: Deleting PDOXUSRS.NET File.........Done"};
    expectedLst1 += FolderDone("DISPDATA") + FolderDone("PERMDATA");
    expectedLst1 += {"lst1: Deleting c:\\ZELPOS\\CONFIGDATA\\PARADOX.LCK .........",
                     "lst1: Deleting C:\\ZELPOS\\CONFIGDATA\\PARADOX.LCK .........Done",
                     "lst1: Deleting C:\\ZELPOS\\CONFIGDATA\\PDOXUSRS.LCK .........", failed};
    QCOMPARE(events.filter(QRegularExpression("^lst1: ")), expectedLst1);

    // The warning follows the failed line, is answered, and the power-off follows it.
    const qsizetype at = events.indexOf(failed);
    QVERIFY(at >= 0);
    QCOMPARE(events.mid(at + 1, 3),
             (QStringList{"dialog Warning: Please ShutDown POS and BACKOFFICE Pc,\\n\\rthen Click "
                          "on the OK Buttun to shitdown this PC",
                          "answer: OK", "power-off: 12 simulated"}));
    QCOMPARE(events.filter(QRegularExpression("^dialog ")).size(), 1);
    QCOMPARE(events.filter(QRegularExpression("^power-off: ")).size(), 1);
    QVERIFY(!events.contains("lst2: Reset database control files.......Done"));
    QVERIFY(!events.contains("lst2: Step 2"));

    QVERIFY(QFile::exists(held));
    for (const QString folder : {"TEMPDATA", "HISTORY"})
      for (const QString file : {"/PARADOX.LCK", "/PDOXUSRS.LCK"})
        QVERIFY(QFile::exists(driveC + "/ZELPOS/" + folder + file));
  }
};

QTEST_GUILESS_MAIN(Step1ConsoleTest)
#include "Step1ConsoleTest.moc"
