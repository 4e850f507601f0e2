// Repair of kept tables: re-index, else the newest usable shift-backup generation.
#include <QDateTime>

#include "log/EInOutError.h"
#include "tests/step2/Station.h"

using zel::test::HookedFiles;
using zel::test::Station;
using zel::test::TestLines;

namespace {

const QDateTime kRunTime(QDate(2026, 12, 10), QTime(14, 30, 0));

// A stock table whose data file is damaged beyond what a re-index can mend.
QByteArray DamageStock() {
  Station::Write("PERMDATA", "STOCK", "C:\\ZELPOS\\PERMDATA", 3);
  Station::Corrupt(Station::Live("PERMDATA", "STOCK", ".DB"));
  return Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB"));
}

void SetCount(Station& s, const QByteArray* count) {
  if (count) s.WriteFile("C:\\ZelPos\\Backup.Ini", "[BackUpNu]\r\nCount=" + *count + "\r\n");
}

// The generation texts whose copy of STOCK was looked for, in order.
QStringList GenerationsTried(const Station& s) {
  QStringList tried;
  const QString prefix = "C:\\ShiftBackUp\\PERMDATA", suffix = "\\STOCK.db";
  for (const auto& path : s.files.looked) {
    const QString p = QString::fromStdString(path);
    if (p.startsWith(prefix) && p.endsWith(suffix))
      tried << p.mid(prefix.size(), p.size() - prefix.size() - suffix.size());
  }
  return tried;
}

QStringList Repeat(const QString& line, int times) {
  QStringList lines;
  for (int i = 0; i < times; ++i) lines << line;
  return lines;
}

const QString kTesting = "Testing Backup File PERMDATA\\STOCK ....Files";
const QString kTestFailed = "Test on PERMDATA\\STOCK\\Index-> ....Failed";
const QStringList kReIndexLines{"Deleting PERMDATA\\STOCK\\Index ....Files",
                                "Creating PERMDATA\\STOCK\\Index ....Files"};

// The lines of a repair that found no usable generation.
QStringList NothingRestored() {
  return kReIndexLines + QStringList{kTestFailed} + Repeat(kTesting, 7) +
         QStringList{kTestFailed, "Backup File Failed PERMDATA\\STOCK ....Failed"};
}

}  // namespace

class RestoreTest : public QObject {
  Q_OBJECT

 private slots:
  void reIndexAloneRepairs() {
    Station s;
    Station::Write("PERMDATA", "STOCK", "C:\\ZELPOS\\PERMDATA", 3);
    QVERIFY(Station::Remove("PERMDATA", "STOCK", ".PX"));
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(s.Lst2(),
             kReIndexLines + QStringList{"Re-Index Succesfully done  PERMDATA\\STOCK ....Done"});
    QCOMPARE(s.Lst1(), TestLines("PERMDATA", "STOCK", {"Done"}));
    QVERIFY(s.fake.dialogs.shown.empty());
    QCOMPARE(s.LogLines(), QStringList());
  }

  // Count 3, generation 3 missing, generation 2 usable.
  void restoresTheNewestUsableGeneration() {
    Station s;
    s.SetClock(kRunTime);
    const QByteArray damaged = DamageStock();
    Station::Write("PERMDATA", "STOCK", "C:\\ShiftBackUp\\PERMDATA2", 5);
    const QByteArray count = "3";
    SetCount(s, &count);
    bool liveAtDialog = false;
    s.fake.dialogs.onShow = [&](const zel::test::RecordedDialog&) {
      liveAtDialog = QFile::exists(Station::Live("PERMDATA", "STOCK", ".DB"));
    };

    s.form->RepairKeptTable("PERMDATA", "STOCK");
    const QStringList restored{kTestFailed,
                               kTesting,
                               kTesting,
                               "Deleting Old Table PERMDATA\\STOCK ....",
                               "Copy Backup File PERMDATA\\STOCK ....Files",
                               "Backup File Succesfully Restored  PERMDATA\\STOCK ....Done"};
    QCOMPARE(s.Lst2(), kReIndexLines + restored);
    QCOMPARE(s.Lst1(), TestLines("PERMDATA", "STOCK", {"Failed", "Done", "Done"}));
    QVERIFY(s.form->TablesOk);
    QCOMPARE(GenerationsTried(s), (QStringList{"3", "2"}));
    QCOMPARE(s.LogLines(), QStringList{"Recover file :PERMDATA STOCK from backup nu : 2"});
    QCOMPARE(s.fake.dialogs.shown.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(s.fake.dialogs.shown[0].text),
             "Replace file : PERMDATA STOCK\n\r" + Station::Q(zel::catalogue::WarningText(29)));
    QVERIFY2(liveAtDialog, "the table was deleted before the operator was warned");
    for (const char* ext : {".DB", ".PX"})
      QCOMPARE(
          Station::Bytes(Station::Live("PERMDATA", "STOCK", ext)),
          Station::Bytes(Station::Host(std::string("C:\\ShiftBackUp\\PERMDATA2\\STOCK") + ext)));
    QCOMPARE(Station::Bytes(
                 Station::Host("C:\\ZelPos\\ZelUtil.Damaged\\20261210-143000\\PERMDATA\\STOCK.DB")),
             damaged);
    QVERIFY(s.form->TestTable("PERMDATA", "STOCK", "", "Desc", "", ""));
  }

  void unusableCopyIsSkipped() {
    Station s;
    DamageStock();
    Station::Write("PERMDATA", "STOCK", "C:\\ShiftBackUp\\PERMDATA3", 2);
    Station::Corrupt(Station::Host("C:\\ShiftBackUp\\PERMDATA3\\STOCK.DB"));
    Station::Write("PERMDATA", "STOCK", "C:\\ShiftBackUp\\PERMDATA2", 2);
    const QByteArray count = "3";
    SetCount(s, &count);
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(GenerationsTried(s), (QStringList{"3", "2"}));
    QCOMPARE(s.LogLines(), QStringList{"Recover file :PERMDATA STOCK from backup nu : 2"});
    QCOMPARE(s.Lst2().last(),
             QString("Backup File Succesfully Restored  PERMDATA\\STOCK ....Done"));
  }

  void searchOrder_data() {
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<QByteArray>("count");
    QTest::addColumn<QStringList>("tried");
    QTest::newRow("3") << true << QByteArray("3") << QStringList{"3", "2", "1", "7", "6", "5", "4"};
    QTest::newRow("1") << true << QByteArray("1") << QStringList{"1", "7", "6", "5", "4", "3", "2"};
    QTest::newRow("7") << true << QByteArray("7") << QStringList{"7", "6", "5", "4", "3", "2", "1"};
    QTest::newRow("10") << true << QByteArray("10")
                        << QStringList{"10", "9", "8", "7", "6", "5", "4"};
    QTest::newRow("03") << true << QByteArray("03")
                        << QStringList{"03", "2", "1", "7", "6", "5", "4"};
    QTest::newRow("x") << true << QByteArray("x") << QStringList{"x", "7", "6", "5", "4", "3", "2"};
    QTest::newRow("0") << true << QByteArray("0") << QStringList{"0", "7", "6", "5", "4", "3", "2"};
    QTest::newRow("empty") << true << QByteArray("")
                           << QStringList{"", "7", "6", "5", "4", "3", "2"};
    QTest::newRow("no settings file")
        << false << QByteArray() << QStringList{"1", "7", "6", "5", "4", "3", "2"};
  }
  void searchOrder() {
    QFETCH(bool, hasFile);
    QFETCH(QByteArray, count);
    QFETCH(QStringList, tried);
    Station s;
    const QByteArray damaged = DamageStock();
    SetCount(s, hasFile ? &count : nullptr);
    s.form->RestoreFromBackup("PERMDATA", "STOCK");
    QCOMPARE(GenerationsTried(s), tried);
    // Nothing usable: seven test lines and nothing else; the damaged table stays.
    QCOMPARE(s.Lst2(), Repeat(kTesting, 7));
    QVERIFY(s.fake.dialogs.shown.empty());
    QCOMPARE(s.LogLines(), QStringList());
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")), damaged);
  }

  // A generation text that would leave the backup folder or overflow a copy path is not used,
  // even where a usable copy lies at the place it names.
  void hostileGenerationText_data() {
    QTest::addColumn<QByteArray>("count");
    QTest::addColumn<QString>("plantedAt");
    QTest::addColumn<QStringList>("tried");
    QTest::newRow("slash") << QByteArray("2/x") << "C:\\ShiftBackUp\\PERMDATA2\\x"
                           << QStringList{"1", "7", "6", "5", "4", "3"};
    QTest::newRow("backslash") << QByteArray("2\\x") << "C:\\ShiftBackUp\\PERMDATA2\\x"
                               << QStringList{"1", "7", "6", "5", "4", "3"};
    QTest::newRow("parent") << QByteArray("..") << "C:\\ShiftBackUp\\PERMDATA.."
                            << QStringList{"7", "6", "5", "4", "3", "2"};
    QTest::newRow("too long") << QByteArray(60, '0') + "3"
                              << "C:\\ShiftBackUp\\PERMDATA" + QString(60, '0') + "3"
                              << QStringList{"2", "1", "7", "6", "5", "4"};
  }
  void hostileGenerationText() {
    QFETCH(QByteArray, count);
    QFETCH(QString, plantedAt);
    QFETCH(QStringList, tried);
    Station s;
    const QByteArray damaged = DamageStock();
    Station::Write("PERMDATA", "STOCK", plantedAt.toStdString(), 2);
    SetCount(s, &count);
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(GenerationsTried(s), tried);
    QCOMPARE(s.Lst2(), NothingRestored());
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")), damaged);
  }

  // With no usable generation the damaged table is left in place, not deleted.
  void noUsableBackupKeepsTheDamagedTable() {
    Station s;
    const QByteArray damaged = DamageStock();
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(s.Lst2(), NothingRestored());
    QCOMPARE(s.Lst1(), TestLines("PERMDATA", "STOCK", {"Failed", "Failed"}));
    QCOMPARE(s.Lst3(), (QStringList{"", "STOCK,PERMDATA", "STOCK,PERMDATA"}));
    QVERIFY(!s.form->TablesOk);
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")), damaged);
    QVERIFY(s.fake.dialogs.shown.empty());
    QCOMPARE(s.LogLines(), QStringList());
  }

  void tableWithoutWarningShowsAnEmptyDialog() {
    Station s;
    Station::Write("PERMDATA", "DRIVERS", "C:\\ZELPOS\\PERMDATA", 2);
    Station::Corrupt(Station::Live("PERMDATA", "DRIVERS", ".DB"));
    Station::Write("PERMDATA", "DRIVERS", "C:\\ShiftBackUp\\PERMDATA1", 2);
    s.form->RepairKeptTable("PERMDATA", "DRIVERS");
    QCOMPARE(s.fake.dialogs.shown.size(), std::size_t(1));
    QCOMPARE(s.fake.dialogs.shown[0].text, std::string());
    QCOMPARE(s.Lst2().last(),
             QString("Backup File Succesfully Restored  PERMDATA\\DRIVERS ....Done"));
  }

  // The log line comes before anything is deleted: a log that cannot be written ends the run
  // with the damaged table still in place.
  void logFailureEndsBeforeDeleting() {
    Station s;
    const QByteArray damaged = DamageStock();
    Station::Write("PERMDATA", "STOCK", "C:\\ShiftBackUp\\PERMDATA1", 2);
    s.files.failWhen = [](HookedFiles::Op op, const std::string&) {
      return op == HookedFiles::Op::Append;
    };
    QVERIFY_THROWS_EXCEPTION(EInOutError, s.form->RepairKeptTable("PERMDATA", "STOCK"));
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")), damaged);
    QVERIFY(s.fake.dialogs.shown.empty());
    QCOMPARE(s.Lst2().last(), kTesting);
  }
};

QTEST_MAIN(RestoreTest)
#include "tst_restore.moc"
