// Repair of kept tables: re-index, else the newest usable shift-backup generation.
#include <QDateTime>

#include "log/EInOutError.h"
#include "tests/step2/Station.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TreeSnapshot.h"

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
    // The number is the whole text or nothing: "4a" is not 4.
    QTest::newRow("4a") << true << QByteArray("4a")
                        << QStringList{"4a", "7", "6", "5", "4", "3", "2"};
    QTest::newRow("+3") << true << QByteArray("+3")
                        << QStringList{"+3", "2", "1", "7", "6", "5", "4"};
    QTest::newRow("-2") << true << QByteArray("-2")
                        << QStringList{"-2", "7", "6", "5", "4", "3", "2"};
    QTest::newRow("3 5") << true << QByteArray("3 5")
                         << QStringList{"3 5", "7", "6", "5", "4", "3", "2"};
    QTest::newRow("int max") << true << QByteArray("2147483647")
                             << QStringList{"2147483647", "2147483646", "2147483645", "2147483644",
                                            "2147483643", "2147483642", "2147483641"};
    QTest::newRow("int min") << true << QByteArray("-2147483648")
                             << QStringList{"-2147483648", "7", "6", "5", "4", "3", "2"};
    QTest::newRow("beyond 32 bits") << true << QByteArray("4294967299")
                                    << QStringList{"4294967299", "7", "6", "5", "4", "3", "2"};
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
                           << QStringList{"7", "6", "5", "4", "3", "2"};
    QTest::newRow("backslash") << QByteArray("2\\x") << "C:\\ShiftBackUp\\PERMDATA2\\x"
                               << QStringList{"7", "6", "5", "4", "3", "2"};
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

  // --- The backup tree is only read.

  // Testing a copy makes no lock file beside it: not while the session that opened it is still
  // open (as it is at the operator's warning), not after the restore. The table object is left
  // for the next table test as it was.
  void backupTreeGetsNoLockFile() {
    Station s;
    DamageStock();
    MakeGenerations({3, 2});
    const QByteArray count = "3";
    SetCount(s, &count);
    const auto before = zel::test::SnapshotTree(BackupRoot());

    QVERIFY(s.form->TestBackupFile("PERMDATA", "STOCK", "3"));
    QVERIFY(!s.form->tbl1.InspectOnly());
    QCOMPARE(LockFilesIn(BackupRoot()), QStringList());
    QVERIFY(!s.form->TestBackupFile("PERMDATA", "STOCK", "4"));  // no such generation
    QVERIFY(!s.form->tbl1.InspectOnly());

    QStringList atWarning{"not shown"};
    s.fake.dialogs.onShow = [&](const zel::test::RecordedDialog&) {
      atWarning = LockFilesIn(BackupRoot());
    };
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(s.Lst2().last(),
             QString("Backup File Succesfully Restored  PERMDATA\\STOCK ....Done"));
    QCOMPARE(atWarning, QStringList());
    const auto after = zel::test::SnapshotTree(BackupRoot());
    QVERIFY2(after == before, qPrintable(zel::test::TreeDifference(before, after)));
    QVERIFY(!s.form->tbl1.InspectOnly());
    // The live folder is tested with the engine's locks as always: the next test passes.
    QVERIFY(s.form->TestTable("PERMDATA", "STOCK", "", "Desc", "", ""));
  }

  // Lock files that a killed run or program left in backup folders (nobody holds them) neither
  // make a generation unusable nor push the search back to an older one, and stay untouched.
  void staleLockFilesInBackups_data() {
    QTest::addColumn<QList<int>>("staleIn");
    QTest::newRow("newest generation") << QList<int>{3};
    QTest::newRow("all seven generations") << QList<int>{1, 2, 3, 4, 5, 6, 7};
  }
  void staleLockFilesInBackups() {
    QFETCH(QList<int>, staleIn);
    Station s;
    DamageStock();
    MakeGenerations({1, 2, 3, 4, 5, 6, 7});
    for (int generation : staleIn) {
      for (const char* name : {"PARADOX.LCK", "PDOXUSRS.LCK"})
        s.WriteFile("C:\\ShiftBackUp\\PERMDATA" + std::to_string(generation) + "\\" + name,
                    "left by a run that was killed");
    }
    const QByteArray count = "3";
    SetCount(s, &count);
    const auto before = zel::test::SnapshotTree(BackupRoot());
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(s.LogLines(), QStringList{"Recover file :PERMDATA STOCK from backup nu : 3"});
    QCOMPARE(s.Lst2().last(),
             QString("Backup File Succesfully Restored  PERMDATA\\STOCK ....Done"));
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")),
             Station::Bytes(Station::Host("C:\\ShiftBackUp\\PERMDATA3\\STOCK.DB")));
    const auto after = zel::test::SnapshotTree(BackupRoot());
    QVERIFY2(after == before, qPrintable(zel::test::TreeDifference(before, after)));
  }

  // A lock file that a live process holds marks that copy as in use: the next generation is
  // taken, and the held file stays.
  void liveLockMakesAGenerationUnusable() {
    Station s;
    DamageStock();
    MakeGenerations({3, 2});
    s.WriteFile("C:\\ShiftBackUp\\PERMDATA3\\PDOXUSRS.LCK", "");
    const QByteArray count = "3";
    SetCount(s, &count);
    zel::test::LockingChild holder(
        Station::Host("C:\\ShiftBackUp\\PERMDATA3\\PDOXUSRS.LCK").toStdString(),
        zel::test::LockingChild::Kind::Fcntl);
    QVERIFY(holder.Locked());
    const auto before = zel::test::SnapshotTree(BackupRoot());
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(s.LogLines(), QStringList{"Recover file :PERMDATA STOCK from backup nu : 2"});
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")),
             Station::Bytes(Station::Host("C:\\ShiftBackUp\\PERMDATA2\\STOCK.DB")));
    const auto after = zel::test::SnapshotTree(BackupRoot());
    QVERIFY2(after == before, qPrintable(zel::test::TreeDifference(before, after)));
  }

  // A backup tree owned by root that the operator's user may only read; the live folders are
  // that user's. The restore, run as that user, finds the newest generation usable. As root the
  // repair runs in a child that drops to nobody, since root may write anywhere.
  void readOnlyBackupTreeAsOrdinaryUser() {
    Station s;
    s.SetClock(kRunTime);
    DamageStock();
    MakeGenerations({3, 2});
    const QByteArray count = "3";
    SetCount(s, &count);
    const QString driveC = s.fake.driveC();
    QVERIFY(QFile::setPermissions(s.fake.prefix.path(), QFileDevice::Permissions(0x7755)));
    QVERIFY(GiveToOrdinaryUser(driveC, BackupRoot()));
    SetWritable(BackupRoot(), false);
    const auto before = zel::test::SnapshotTree(BackupRoot());

    TForm1& form = *s.form;
    const int status = zel::test::RunAsOrdinaryUser([&form, &s] {
      form.RepairKeptTable("PERMDATA", "STOCK");
      const QString last = s.view.lst2.lines.last();
      return last == "Backup File Succesfully Restored  PERMDATA\\STOCK ....Done" ? 0 : 1;
    });
    SetWritable(BackupRoot(), true);
    QCOMPARE(status, 0);
    QCOMPARE(s.LogLines(), QStringList{"Recover file :PERMDATA STOCK from backup nu : 3"});
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")),
             Station::Bytes(Station::Host("C:\\ShiftBackUp\\PERMDATA3\\STOCK.DB")));
    SetWritable(BackupRoot(), false);  // as it was when the snapshot was taken
    const auto after = zel::test::SnapshotTree(BackupRoot());
    SetWritable(BackupRoot(), true);
    QVERIFY2(after == before, qPrintable(zel::test::TreeDifference(before, after)));
  }

 private:
  static QString BackupRoot() { return Station::Host("C:\\ShiftBackUp"); }

  // Each generation's STOCK with its own number of records, so copies tell them apart.
  static void MakeGenerations(const QList<int>& generations) {
    for (int generation : generations)
      Station::Write("PERMDATA", "STOCK", "C:\\ShiftBackUp\\PERMDATA" + std::to_string(generation),
                     generation + 1);
  }

  static QStringList LockFilesIn(const QString& root) {
    QStringList found;
    QDirIterator it(root, {"*.LCK", "*.lck", "*.NET", "*.net"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) found << it.next();
    return found;
  }

  static void SetWritable(const QString& root, bool writable) {
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList paths{root};
    while (it.hasNext()) paths << it.next();
    for (const QString& path : paths) {
      const bool dir = QFileInfo(path).isDir();
      QFile::setPermissions(path, QFileDevice::Permissions(dir ? (writable ? 0x7755 : 0x5555)
                                                               : (writable ? 0x6644 : 0x4444)));
    }
  }

  // As root: everything under `driveC` but `keep` becomes the ordinary user's.
  static bool GiveToOrdinaryUser(const QString& driveC, const QString& keep) {
    if (::geteuid() != 0) return true;  // already an ordinary user's files
    QDirIterator it(driveC, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList paths{driveC};
    while (it.hasNext()) paths << it.next();
    for (const QString& path : paths) {
      if (path == keep || path.startsWith(keep + "/")) continue;
      if (::chown(QFile::encodeName(path).constData(), zel::test::kOrdinaryUser,
                  zel::test::kOrdinaryGroup) != 0)
        return false;
    }
    return true;
  }
};

QTEST_GUILESS_MAIN(RestoreTest)
#include "tst_restore.moc"
