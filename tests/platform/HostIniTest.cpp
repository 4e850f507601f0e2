// INI reading as GetPrivateProfileStringA does it, on a temporary Wine prefix.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/IniReader.h"
#include "tests/support/StderrCapture.h"

class HostIniTest : public QObject {
  Q_OBJECT

  QTemporaryDir prefix_;

  QString iniPath() const { return prefix_.path() + "/drive_c/ZelPos/Zelpos.ini"; }
  void writeIni(const QByteArray& content) {
    QFile::remove(iniPath());
    QFile f(iniPath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
  }

 private slots:
  void initTestCase() {
    QVERIFY(prefix_.isValid());
    qputenv("WINEPREFIX", prefix_.path().toLocal8Bit());
    QVERIFY(QDir().mkpath(prefix_.path() + "/drive_c/ZelPos"));
  }

  void readString_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    const QByteArray till = "[Main]\r\nTillNumber=FC  1 - A\r\n";
    QTest::newRow("CR LF") << till << "Main"
                           << "TillNumber"
                           << "FC  1 - A";
    QTest::newRow("LF only") << QByteArray("[Main]\nTillNumber=FC  2 - B\n") << "Main"
                             << "TillNumber"
                             << "FC  2 - B";
    QTest::newRow("names without case") << till << "MAIN"
                                        << "tillnumber"
                                        << "FC  1 - A";
    QTest::newRow("missing key") << till << "Main"
                                 << "Other"
                                 << "<default>";
    QTest::newRow("missing section") << till << "BackUpNu"
                                     << "TillNumber"
                                     << "<default>";
    QTest::newRow("blanks around names and value")
        << QByteArray("  [ Main ]  \r\n\t TillNumber \t=  FC  1 - A \t\r\n") << "Main"
        << "TillNumber"
        << "FC  1 - A";
    QTest::newRow("one pair of quotes removed")
        << QByteArray("[Main]\r\nTillNumber=\" FC  1 - A \"\r\n") << "Main"
        << "TillNumber"
        << " FC  1 - A ";
    QTest::newRow("single quotes") << QByteArray("[Main]\r\nA='x'\r\n") << "Main"
                                   << "A"
                                   << "x";
    QTest::newRow("unmatched quotes stay") << QByteArray("[Main]\r\nA=\"x'\r\n") << "Main"
                                           << "A"
                                           << "\"x'";
    QTest::newRow("inner quotes stay") << QByteArray("[Main]\r\nA=\"\"x\"\"\r\n") << "Main"
                                       << "A"
                                       << "\"x\"";
    QTest::newRow("empty value") << QByteArray("[BackUpNu]\r\nCount=\r\n") << "BackUpNu"
                                 << "Count"
                                 << "";
    QTest::newRow("comment line") << QByteArray("[Main]\r\n;TillNumber=FC  9 - Z\r\n") << "Main"
                                  << "TillNumber"
                                  << "<default>";
    QTest::newRow("semicolon inside a value")
        << QByteArray("[Main]\r\nA=1 ; not a comment\r\n") << "Main"
        << "A"
        << "1 ; not a comment";
    QTest::newRow("first key wins") << QByteArray("[Main]\r\nA=1\r\nA=2\r\n") << "Main"
                                    << "A"
                                    << "1";
    QTest::newRow("first section wins")
        << QByteArray("[Main]\r\nA=1\r\n[Main]\r\nA=2\r\n") << "Main"
        << "A"
        << "1";
    // Only the first section of a name is read, as Windows does.
    QTest::newRow("key only in a repeated section")
        << QByteArray("[Main]\r\nB=1\r\n[Other]\r\nA=0\r\n[main]\r\nA=2\r\n") << "Main"
        << "A"
        << "<default>";
    QTest::newRow("key of another section") << QByteArray("[Other]\r\nA=1\r\n[Main]\r\n") << "Main"
                                            << "A"
                                            << "<default>";
    QTest::newRow("key before any section") << QByteArray("A=1\r\n[Main]\r\n") << "Main"
                                            << "A"
                                            << "<default>";
    QTest::newRow("value with '='") << QByteArray("[Main]\r\nA=b=c\r\n") << "Main"
                                    << "A"
                                    << "b=c";
    QTest::newRow("line without '='") << QByteArray("[Main]\r\nA\r\nA=5\r\n") << "Main"
                                      << "A"
                                      << "5";
    QTest::newRow("8-bit bytes kept") << QByteArray("[Main]\r\nA=caf\xE9\r\n") << "Main"
                                      << "A" << QString::fromLatin1("caf\xE9");
  }
  // GetPrivateProfileStringA("Main", "TillNumber", "DEF") as measured under Wine 8.
  void readTillNumber_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first section only")
        << QByteArray("[Main]\r\nOther=1\r\n[Main]\r\nTillNumber=X\r\n") << "DEF";
    QTest::newRow("first key") << QByteArray("[Main]\r\nTillNumber=A\r\nTillNumber=B\r\n") << "A";
    QTest::newRow("quoted, blanks outside")
        << QByteArray("[Main]\r\nTillNumber=  \"FC  1 - A\"  \r\n") << "FC  1 - A";
    QTest::newRow("lower case, ';' in the value")
        << QByteArray("[main]\r\ntillnumber=x ; c\r\n") << "x ; c";
    QTest::newRow("blanks around the lines")
        << QByteArray("  [Main]  \r\n  TillNumber = v \r\n") << "v";
    QTest::newRow("commented out") << QByteArray("[Main]\r\n;TillNumber=v\r\n") << "DEF";
    QTest::newRow("no '='") << QByteArray("[Main]\r\nTillNumber\r\n") << "DEF";
    QTest::newRow("LF line ends") << QByteArray("[Main]\nTillNumber=lf\n") << "lf";
    QTest::newRow("single quotes") << QByteArray("[Main]\r\nTillNumber='q'\r\n") << "q";
    QTest::newRow("one quote") << QByteArray("[Main]\r\nTillNumber=\"q\r\n") << "\"q";
  }
  void readTillNumber() {
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    writeIni(content);
    const std::string value =
        zel::platform::HostIni().ReadString("c:\\Zelpos\\Zelpos.ini", "Main", "TillNumber", "DEF");
    QCOMPARE(QString::fromLatin1(value.data(), qsizetype(value.size())), expected);
  }

  void readString() {
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    writeIni(content);
    const std::string value = zel::platform::HostIni().ReadString(
        "c:\\Zelpos\\Zelpos.ini", section.toStdString(), key.toStdString(), "<default>");
    QCOMPARE(QString::fromLatin1(value.data(), qsizetype(value.size())), expected);
  }

  void missingFileGivesDefault() {
    QCOMPARE(
        zel::platform::HostIni().ReadString("C:\\ZelPos\\Backup.Ini", "BackUpNu", "Count", "7"),
        std::string("7"));
    QCOMPARE(
        zel::platform::HostIni().ReadString("C:\\NoFolder\\Backup.Ini", "BackUpNu", "Count", ""),
        std::string());
  }

  // Something other than a regular file in the INI file's place is never read: a FIFO without
  // a writer would block a plain open or read for ever, a device could feed endless bytes.
  void specialFileGivesDefault_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("folder") << "folder";
    QTest::newRow("link to a device") << "device";
  }
  void specialFileGivesDefault() {
    QFETCH(QString, kind);
    const QString path = iniPath();
    QFile::remove(path);
    QDir(path).removeRecursively();
    const auto cleanUp = qScopeGuard([&] {
      QFile::remove(path);
      QDir(path).removeRecursively();
    });
    if (kind == "fifo") {
      QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "folder") {
      QVERIFY(QDir().mkpath(path));
      QFile inside(path + "/Main");
      QVERIFY(inside.open(QIODevice::WriteOnly));
    } else {
      QVERIFY(QFile::link("/dev/zero", path));
    }
    QCOMPARE(zel::platform::HostIni().ReadString("c:\\Zelpos\\Zelpos.ini", "Main", "TillNumber",
                                                 "<default>"),
             std::string("<default>"));
    // A writer that turns up later still finds the FIFO there, unread.
    if (kind == "fifo") QVERIFY(QFileInfo(path).exists());
  }

  // Only the first 1 MiB of a file is read, and standard error says so once the file is larger;
  // a key past that point is not found. A CR inside a value stays in the value (the log and
  // the console escape it when they show it).
  void readsAtMostOneMebibyte_data() {
    QTest::addColumn<int>("padding");
    QTest::addColumn<QString>("expectedEarly");
    QTest::addColumn<QString>("expectedLate");
    QTest::addColumn<bool>("told");
    QTest::newRow("small") << 100 << "3;x\rZEL Util Start."
                           << "late" << false;
    QTest::newRow("exactly 1 MiB") << (1 << 20) - 64 << "3;x\rZEL Util Start."
                                   << "late" << false;
    QTest::newRow("larger") << (2 << 20) << "3;x\rZEL Util Start."
                            << "<default>" << true;
  }
  void readsAtMostOneMebibyte() {
    QFETCH(int, padding);
    QFETCH(QString, expectedEarly);
    QFETCH(QString, expectedLate);
    QFETCH(bool, told);
    QByteArray content = "[BackUpNu]\r\nCount=3;x\rZEL Util Start.\r\n;";
    content += QByteArray(padding, 'p');
    content += "\r\nLate=late\r\n";
    if (padding < (1 << 20)) content.truncate(1 << 20);  // the row of exactly 1 MiB
    if (!told) QVERIFY(content.size() <= (1 << 20));
    writeIni(content);
    std::string early, late;
    const QByteArray said = zel::test::CaptureStderr([&] {
      early = zel::platform::HostIni().ReadString("C:\\ZelPos\\Zelpos.ini", "BackUpNu", "Count",
                                                  "<default>");
      late = zel::platform::HostIni().ReadString("C:\\ZelPos\\Zelpos.ini", "BackUpNu", "Late",
                                                 "<default>");
    });
    QCOMPARE(QString::fromStdString(early), expectedEarly);
    QCOMPARE(QString::fromStdString(late), expectedLate);
    QCOMPARE(said.contains("is larger than 1048576 bytes; only its first 1048576 are read"), told);
    if (told) QVERIFY2(said.contains("/drive_c/ZelPos/Zelpos.ini"), said.constData());
  }
};

QTEST_GUILESS_MAIN(HostIniTest)
#include "HostIniTest.moc"
