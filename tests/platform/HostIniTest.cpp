// INI reading as GetPrivateProfileStringA does it, on a temporary Wine prefix.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/IniReader.h"

class HostIniTest : public QObject {
  Q_OBJECT

  QTemporaryDir prefix_;

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
    QTest::newRow("key in a repeated section")
        << QByteArray("[Main]\r\nB=1\r\n[Other]\r\nA=0\r\n[main]\r\nA=2\r\n") << "Main"
        << "A"
        << "2";
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
  void readString() {
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QFile f(prefix_.path() + "/drive_c/ZelPos/Zelpos.ini");
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
    f.close();
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
};

QTEST_GUILESS_MAIN(HostIniTest)
#include "HostIniTest.moc"
