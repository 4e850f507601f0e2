// The activity log line: format, code page, file handling and errors.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <ctime>

#include "log/ActivityLog.h"
#include "log/EInOutError.h"
#include "platform/qt/QtDateTimeText.h"
#include "tests/support/FakePlatform.h"

namespace {

// 25 May 2009, 14:07:00 UTC (the tests run with TZ=UTC).
std::chrono::system_clock::time_point At(int hour, int minute, int second) {
  const QDateTime t(QDate(2009, 5, 25), QTime(hour, minute, second), Qt::UTC);
  return std::chrono::system_clock::time_point(std::chrono::seconds(t.toSecsSinceEpoch()));
}

// Files that answer every append with a given Windows error code.
class FailingFiles : public zel::test::HookedFiles {
 public:
  int code = 0;
  int AppendToFile(const std::string&, const std::string&) override { return code; }
};

}  // namespace

class ActivityLogTest : public QObject {
  Q_OBJECT

  QByteArray logBytes(const zel::test::FakePlatform& fake) {
    QFile f(fake.driveC() + "/ZelPos/ZelUtil.Log");
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

 private slots:
  void initTestCase() {
    qputenv("TZ", "UTC");
    ::tzset();
  }
  void cleanup() { QLocale::setDefault(QLocale::c()); }

  void lineFormat_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom)
                           << "25/05/2009  14:07:00  ZEL Util Start.";
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany)
                           << "25.05.09  14:07:00  ZEL Util Start.";
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates)
                           << "5/25/09  2:07:00 PM  ZEL Util Start.";
  }
  void lineFormat() {
    QFETCH(QLocale, locale);
    QFETCH(QString, expected);
    QLocale::setDefault(locale);
    QCOMPARE(QString::fromStdString(zel::log::FormatLine(At(14, 7, 0), "ZEL Util Start.")),
             expected);
  }

  // Whatever the locale, the long time has hours, minutes and seconds and no time zone.
  void longTimeFormatHasNoZone_data() {
    QTest::addColumn<QLocale>("locale");
    for (const char* name : {"en_GB", "en_US", "de_DE", "fr_FR", "nl_NL", "ja_JP", "C"})
      QTest::newRow(name) << QLocale(QString::fromLatin1(name));
  }
  void longTimeFormatHasNoZone() {
    QFETCH(QLocale, locale);
    const QString format = zel::platform::LongTimeFormat(locale);
    QVERIFY2(format.contains("ss") && format.contains("mm"), qPrintable(format));
    const QString text = locale.toString(QTime(14, 7, 9), format);
    QVERIFY2(text.contains("07") && text.contains("09"), qPrintable(text));
    QVERIFY2(!text.contains("UTC") && !text.contains("GMT"), qPrintable(text));
  }

  void codePage1252_data() {
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ascii") << QByteArray("Create new file :TEMPDATA ATTLOG")
                           << QByteArray("Create new file :TEMPDATA ATTLOG");
    QTest::newRow("e acute") << QByteArray("caf\xC3\xA9") << QByteArray("caf\xE9");
    QTest::newRow("euro") << QByteArray("\xE2\x82\xAC 5") << QByteArray("\x80 5");
    QTest::newRow("not in the code page") << QByteArray("a\xE4\xB8\xADz") << QByteArray("a?z");
    QTest::newRow("four-byte character") << QByteArray("a\xF0\x9F\x98\x80z") << QByteArray("a?z");
    QTest::newRow("malformed byte") << QByteArray("a\xFFz") << QByteArray("a?z");
    QTest::newRow("cut-off sequence") << QByteArray("a\xC3") << QByteArray("a?");
    QTest::newRow("lead byte before ascii") << QByteArray("a\xE2z") << QByteArray("a?z");
  }
  void codePage1252() {
    QFETCH(QByteArray, utf8);
    QFETCH(QByteArray, expected);
    const std::string out = zel::log::ToCodePage1252(utf8.toStdString());
    QCOMPARE(QByteArray(out.data(), qsizetype(out.size())), expected);
  }

  void createsFileAndAppendsInOrder() {
    zel::test::FakePlatform fake;
    QVERIFY(QDir().mkpath(fake.driveC() + "/ZelPos"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    fake.system.now = At(14, 7, 0);
    zel::log::AppendLine(fake.files, fake.system, "ZEL Util Start.");
    zel::log::AppendLine(fake.files, fake.system, "Recover file :PERMDATA PLU from backup nu : 3");
    zel::log::AppendLine(fake.files, fake.system, "Create new file :TEMPDATA caf\xC3\xA9");
    QCOMPARE(logBytes(fake),
             QByteArray("25/05/2009  14:07:00  ZEL Util Start.\r\n"
                        "25/05/2009  14:07:00  Recover file :PERMDATA PLU from "
                        "backup nu : 3\r\n"
                        "25/05/2009  14:07:00  Create new file :TEMPDATA caf\xE9\r\n"));
  }

  // Text from files (a backup count, a table's name) cannot end the line or forge another: its
  // control characters are written escaped, a tab stays, and the fixed texts and the line's own
  // CR LF stay byte for byte.
  void controlCharactersEscaped_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("fixed text") << QByteArray("ZEL Util Start.") << QByteArray("ZEL Util Start.");
    QTest::newRow("CR LF in a count")
        << QByteArray(
               "Recover file :PERMDATA PLU from backup nu : 3\r\n25/05/2009  ZEL Util Start.")
        << QByteArray(
               "Recover file :PERMDATA PLU from backup nu : 3\\r\\n25/05/2009  ZEL Util Start.");
    QTest::newRow("lone CR") << QByteArray("a\rb") << QByteArray("a\\rb");
    QTest::newRow("escape sequence") << QByteArray("a\x1b[2Jb") << QByteArray("a\\x1B[2Jb");
    QTest::newRow("tab stays") << QByteArray("a\tb") << QByteArray("a\tb");
    QTest::newRow("DEL") << QByteArray("a\x7f") << QByteArray("a\\x7F");
  }
  void controlCharactersEscaped() {
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, written);
    zel::test::FakePlatform fake;
    QVERIFY(QDir().mkpath(fake.driveC() + "/ZelPos"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    fake.system.now = At(14, 7, 0);
    zel::log::AppendLine(fake.files, fake.system, message.toStdString());
    QCOMPARE(logBytes(fake), "25/05/2009  14:07:00  " + written + "\r\n");
  }

  // A link in the log's place is not written through: the log fails as a log it cannot write
  // does ("File access denied"), and the file the link points at stays as it was.
  void linkInTheLogsPlaceFails() {
    zel::test::FakePlatform fake;
    QVERIFY(QDir().mkpath(fake.driveC() + "/ZelPos"));
    QTemporaryDir elsewhere;
    QFile decoy(elsewhere.path() + "/decoy");
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    decoy.write("decoy\n");
    decoy.close();
    QVERIFY(QFile::link(decoy.fileName(), fake.driveC() + "/ZelPos/ZelUtil.Log"));
    try {
      zel::log::AppendLine(fake.files, fake.system, "ZEL Util Start.");
      QFAIL("no error");
    } catch (const EInOutError& error) {
      QCOMPARE(error.ErrorCode, 5);
      QCOMPARE(error.File, std::string("C:\\ZelPos\\ZelUtil.Log"));
    }
    QVERIFY(decoy.open(QIODevice::ReadOnly));
    QCOMPARE(decoy.readAll(), QByteArray("decoy\n"));
  }

  void keepsEarlierLines() {
    zel::test::FakePlatform fake;
    QVERIFY(QDir().mkpath(fake.driveC() + "/zelpos"));
    QFile f(fake.driveC() + "/zelpos/zelutil.log");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("earlier\r\n");
    f.close();
    zel::log::AppendLine(fake.files, fake.system, "ZEL Util Start.");
    QFile again(fake.driveC() + "/zelpos/zelutil.log");
    QVERIFY(again.open(QIODevice::ReadOnly));
    const QByteArray bytes = again.readAll();
    QVERIFY(bytes.startsWith("earlier\r\n"));
    QVERIFY(bytes.endsWith("  ZEL Util Start.\r\n"));
    QCOMPARE(bytes.count('\n'), 2);
  }

  void missingFolderIsInvalidFilename() {
    zel::test::FakePlatform fake;
    try {
      zel::log::AppendLine(fake.files, fake.system, "ZEL Util Start.");
      QFAIL("no error");
    } catch (const EInOutError& error) {
      QCOMPARE(error.ErrorCode, 3);
      QCOMPARE(QString(error.what()), QString("Invalid filename"));
      QCOMPARE(error.File, std::string("C:\\ZelPos\\ZelUtil.Log"));
    }
    QVERIFY(!QDir(fake.driveC() + "/ZelPos").exists());
  }

  void errorMessages_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("2") << 2 << "File not found";
    QTest::newRow("3") << 3 << "Invalid filename";
    QTest::newRow("4") << 4 << "Too many open files";
    QTest::newRow("5") << 5 << "File access denied";
    QTest::newRow("101") << 101 << "Disk full";
    QTest::newRow("32") << 32 << "I/O error 32";
    QTest::newRow("1117") << 1117 << "I/O error 1117";
  }
  void errorMessages() {
    QFETCH(int, code);
    QFETCH(QString, message);
    zel::test::FakePlatform fake;
    FailingFiles files;
    files.code = code;
    try {
      zel::log::AppendLine(files, fake.system, "ZEL Util Start.");
      QFAIL("no error");
    } catch (const EInOutError& error) {
      QCOMPARE(error.ErrorCode, code);
      QCOMPARE(QString(error.what()), message);
    }
  }
};

QTEST_GUILESS_MAIN(ActivityLogTest)
#include "ActivityLogTest.moc"
