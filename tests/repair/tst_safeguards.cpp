// What keeps a repair from making a till worse: a table with sound records is never replaced,
// damaged files are kept before anything of them goes, a restore swaps in a complete copy or
// nothing, and what an interrupted run left behind is put right.
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include "repair/Leftovers.h"
#include "tests/step2/Station.h"
#include "tests/support/ChildProcess.h"

using zel::test::HookedFiles;
using zel::test::Station;

namespace {

const QDateTime kRunTime(QDate(2026, 12, 10), QTime(14, 30, 0));
const QString kDamagedFolder = "C:\\ZelPos\\ZelUtil.Damaged\\20261210-143000\\";

void SetCount(Station& s, const QByteArray& count) {
  s.WriteFile("C:\\ZelPos\\Backup.Ini", "[BackUpNu]\r\nCount=" + count + "\r\n");
}

// A stock table whose data file is damaged, and a usable generation 3 of it.
QByteArray DamagedStockWithBackup(Station& s) {
  Station::Write("PERMDATA", "STOCK", "C:\\ZELPOS\\PERMDATA", 3);
  Station::Corrupt(Station::Live("PERMDATA", "STOCK", ".DB"));
  Station::Write("PERMDATA", "STOCK", "C:\\ShiftBackUp\\PERMDATA3", 2);
  SetCount(s, "3");
  return Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB"));
}

QStringList HiddenFiles(const QString& hostFolder) {
  return QDir(hostFolder).entryList({".*"}, QDir::Files | QDir::Hidden);
}

QStringList Count(const QStringList& lines, const QString& line) {
  QStringList found;
  for (const QString& l : lines)
    if (l == line) found << l;
  return found;
}

}  // namespace

class SafeguardsTest : public QObject {
  Q_OBJECT

 private slots:
  // The index rebuild cannot write (a directory stands where the primary index goes, as a full
  // disk or an I/O error would stop it): the sound records stay, with no dialog, no log line
  // and no backup or new table over them.
  void soundDataFileIsNeverReplaced_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("kept") << "PERMDATA"
                          << "STOCK"
                          << "Backup File Failed PERMDATA\\STOCK ....Failed";
    QTest::newRow("transient") << "DISPDATA"
                               << "DISPLAY"
                               << "New File Failed DISPDATA\\DISPLAY ....Failed";
  }
  void soundDataFileIsNeverReplaced() {
    QFETCH(QString, folder);
    QFETCH(QString, table);
    QFETCH(QString, lastLine);
    Station s;
    const std::string f = folder.toStdString(), t = table.toStdString();
    Station::Write(f, t, "C:\\ZELPOS\\" + f, 5);
    Station::Write(f, t, "C:\\ShiftBackUp\\" + f + "3", 1);
    SetCount(s, "3");
    const QByteArray records = Station::Bytes(Station::Live(f, t, ".DB"));
    QVERIFY(Station::Remove(f, t, ".PX"));
    QVERIFY(QDir().mkdir(Station::Live(f, t, ".PX")));

    if (folder == "PERMDATA")
      s.form->RepairKeptTable(f, t);
    else
      s.form->RepairTransientTable(f, t);

    QCOMPARE(s.Lst2().last(), lastLine);
    QVERIFY(!s.form->TablesOk);
    QCOMPARE(Station::Bytes(Station::Live(f, t, ".DB")), records);
    QVERIFY(s.fake.dialogs.shown.empty());
    QCOMPARE(s.LogLines(), QStringList());
    for (const QString& line : s.Lst2()) {
      QVERIFY2(!line.startsWith("Testing Backup File") && !line.startsWith("Deleting Old Table"),
               qPrintable(line));
    }
  }

  // A sound table whose index could not be written is healed by the next run.
  void soundTableHealsOnTheNextRun() {
    Station s;
    Station::Write("PERMDATA", "STOCK", "C:\\ZELPOS\\PERMDATA", 5);
    const QByteArray records = Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB"));
    QVERIFY(Station::Remove("PERMDATA", "STOCK", ".PX"));
    QVERIFY(QDir().mkdir(Station::Live("PERMDATA", "STOCK", ".PX")));
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QVERIFY(!s.form->TablesOk);

    QVERIFY(QDir().rmdir(Station::Live("PERMDATA", "STOCK", ".PX")));
    s.form = std::make_unique<TForm1>(s.platform, s.view);  // the next run
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(s.Lst2().last(), QString("Re-Index Succesfully done  PERMDATA\\STOCK ....Done"));
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")), records);
    QVERIFY(s.form->TestTable("PERMDATA", "STOCK", "", "Desc", "", ""));
  }

  // Files that cannot be kept aside are not replaced: the failure line, then the path's own.
  void failedSaveKeepsTheKeptTable_data() {
    QTest::addColumn<int>("failing");
    QTest::newRow("folder") << int(HookedFiles::Op::CreateDirectories);
    QTest::newRow("folder sync") << int(HookedFiles::Op::FlushFolder);
  }
  void failedSaveKeepsTheKeptTable() {
    QFETCH(int, failing);
    Station s;
    s.SetClock(kRunTime);
    const QByteArray damaged = DamagedStockWithBackup(s);
    s.files.failWhen = [failing](HookedFiles::Op op, const std::string& path) {
      return int(op) == failing && path.find("ZelUtil.Damaged") != std::string::npos;
    };
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    const QStringList lst2 = s.Lst2();
    const int at = lst2.indexOf("Deleting Old Table PERMDATA\\STOCK ....");
    QVERIFY(at >= 0);
    QCOMPARE(lst2.value(at + 1), QString("Save damaged files PERMDATA\\STOCK ....Failed"));
    QVERIFY(!lst2.contains("Copy Backup File PERMDATA\\STOCK ....Files"));
    QCOMPARE(lst2.last(), QString("Backup File Failed PERMDATA\\STOCK ....Failed"));
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")), damaged);
    QVERIFY(!s.form->TablesOk);
  }

  // A links-less file system: the damaged files are copied aside instead.
  void saveFallsBackToACopy() {
    Station s;
    s.SetClock(kRunTime);
    const QByteArray damaged = DamagedStockWithBackup(s);
    s.files.failWhen = [](HookedFiles::Op op, const std::string&) {
      return op == HookedFiles::Op::Link;
    };
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(s.Lst2().last(),
             QString("Backup File Succesfully Restored  PERMDATA\\STOCK ....Done"));
    QCOMPARE(Station::Bytes(Station::Host((kDamagedFolder + "PERMDATA\\STOCK.DB").toStdString())),
             damaged);
  }

  // A copy that fails part way, for any file of the generation, leaves the damaged table
  // exactly as it was and no copy half in place.
  void failedCopyKeepsTheDamagedTable_data() {
    QTest::addColumn<QString>("extension");
    QTest::newRow("data file") << ".Db";
    QTest::newRow("primary index") << ".PX";
    QTest::newRow("named index") << ".YG0";
  }
  void failedCopyKeepsTheDamagedTable() {
    QFETCH(QString, extension);
    Station s;
    s.SetClock(kRunTime);
    const QByteArray damaged = DamagedStockWithBackup(s);
    const std::string failing = "ShiftBackUp\\PERMDATA3\\STOCK" + extension.toStdString();
    s.files.failWhen = [failing](HookedFiles::Op op, const std::string& from) {
      return op == HookedFiles::Op::Copy && from.find(failing) != std::string::npos;
    };
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    const QStringList lst2 = s.Lst2();
    QVERIFY(lst2.contains("Copy Backup File PERMDATA\\STOCK ....Files"));
    QCOMPARE(Count(lst2, "Delete PERMDATA\\STOCK\\Index ....Failed"), QStringList());
    QCOMPARE(lst2.last(), QString("Backup File Failed PERMDATA\\STOCK ....Failed"));
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")), damaged);
    QCOMPARE(HiddenFiles(Station::Host("C:\\ZELPOS\\PERMDATA")), QStringList());
    QCOMPARE(Station::Bytes(Station::Host((kDamagedFolder + "PERMDATA\\STOCK.DB").toStdString())),
             damaged);
  }

  // The swap stops before the data file when an index cannot be replaced: the damaged data
  // stays, so the table keeps failing and the next run restores it again.
  void failedSwapStopsBeforeTheDataFile() {
    Station s;
    s.SetClock(kRunTime);
    const QByteArray damaged = DamagedStockWithBackup(s);
    s.files.failWhen = [](HookedFiles::Op op, const std::string& to) {
      return op == HookedFiles::Op::Move && to.size() > 4 && to.substr(to.size() - 4) == ".XG0";
    };
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    const QStringList lst2 = s.Lst2();
    QVERIFY(!Count(lst2, "Delete PERMDATA\\STOCK\\Index ....Failed").isEmpty());
    QCOMPARE(lst2.last(), QString("Backup File Failed PERMDATA\\STOCK ....Failed"));
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")), damaged);
    QCOMPARE(HiddenFiles(Station::Host("C:\\ZELPOS\\PERMDATA")), QStringList());

    s.files.failWhen = nullptr;
    s.form = std::make_unique<TForm1>(s.platform, s.view);  // the next run, in the same second
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(s.Lst2().last(),
             QString("Backup File Succesfully Restored  PERMDATA\\STOCK ....Done"));
    QCOMPARE(Station::Bytes(Station::Live("PERMDATA", "STOCK", ".DB")),
             Station::Bytes(Station::Host("C:\\ShiftBackUp\\PERMDATA3\\STOCK.DB")));
    // Each run kept the damaged files in a folder of its own.
    QCOMPARE(Station::Bytes(Station::Host((kDamagedFolder + "PERMDATA\\STOCK.DB").toStdString())),
             damaged);
    QCOMPARE(Station::Bytes(Station::Host(
                 "C:\\ZelPos\\ZelUtil.Damaged\\20261210-143000-2\\PERMDATA\\STOCK.DB")),
             damaged);
  }

  // A restore keeps the live data file's name and leaves nothing staged behind.
  void restoreLeavesNoStagedFiles() {
    Station s;
    s.SetClock(kRunTime);
    DamagedStockWithBackup(s);
    s.form->RepairKeptTable("PERMDATA", "STOCK");
    QCOMPARE(s.Lst2().last(),
             QString("Backup File Succesfully Restored  PERMDATA\\STOCK ....Done"));
    QCOMPARE(HiddenFiles(Station::Host("C:\\ZELPOS\\PERMDATA")), QStringList());
    QVERIFY(s.form->TestTable("PERMDATA", "STOCK", "", "Desc", "", ""));
  }

  // A table another program has open (a POS that ignored the close request) is neither
  // deleted nor replaced under it.
  void tableInUseIsNotReplaced_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("restore") << "PERMDATA"
                             << "STOCK"
                             << "Backup File Failed PERMDATA\\STOCK ....Failed";
    QTest::newRow("new table") << "TEMPDATA"
                               << "ATTLOG"
                               << "New File Failed TEMPDATA\\ATTLOG ....Failed";
  }
  void tableInUseIsNotReplaced() {
    QFETCH(QString, folder);
    QFETCH(QString, table);
    QFETCH(QString, lastLine);
    Station s;
    s.SetClock(kRunTime);
    const std::string f = folder.toStdString(), t = table.toStdString();
    Station::Write(f, t, "C:\\ZELPOS\\" + f, 3);
    Station::Corrupt(Station::Live(f, t, ".DB"));
    Station::Write(f, t, "C:\\ShiftBackUp\\" + f + "3", 2);
    SetCount(s, "3");
    const QByteArray damaged = Station::Bytes(Station::Live(f, t, ".DB"));
    zel::test::LockingChild pos(QFile::encodeName(Station::Live(f, t, ".DB")).toStdString(),
                                zel::test::LockingChild::Kind::Open);
    QVERIFY(pos.Locked());

    if (folder == "PERMDATA")
      s.form->RepairKeptTable(f, t);
    else
      s.form->RepairTransientTable(f, t);

    QVERIFY(s.Lst2().contains("Delete " + folder + "\\" + table + "\\Index ....Failed"));
    QCOMPARE(s.Lst2().last(), lastLine);
    QCOMPARE(Station::Bytes(Station::Live(f, t, ".DB")), damaged);
    QCOMPARE(HiddenFiles(Station::Host("C:\\ZELPOS\\" + f)), QStringList());
  }

  // Files an interrupted run left: ours are put back or removed, anything else is not touched,
  // and nothing in the backup tree is.
  void leftovers_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("originalExists");
    QTest::addColumn<QString>("expected");  // "removed", "put back" or "untouched"
    const QString live = "C:\\ZELPOS\\PERMDATA", damaged = kDamagedFolder + "PERMDATA";
    QTest::newRow("writer's new file") << live << ".STOCK.PX.zeltmp-a1B2c3" << false << "removed";
    QTest::newRow("kept old file, replaced")
        << live << ".STOCK.PX.zelold-a1B2c3" << true << "removed";
    QTest::newRow("kept old file, only copy")
        << live << ".STOCK.PX.zelold-a1B2c3" << false << "put back";
    QTest::newRow("scratch") << live << ".zelspill-a1B2c3" << false << "removed";
    QTest::newRow("copy on its way") << live << ".zelcopy-a1B2c3" << false << "removed";
    QTest::newRow("staged restore") << live << ".zelcopy-restore-STOCK.PX" << false << "removed";
    QTest::newRow("copy in damaged") << damaged << ".zelcopy-a1B2c3" << false << "removed";
    QTest::newRow("other hidden file") << live << ".STOCK.PX.bak" << false << "untouched";
    QTest::newRow("mark not at start") << live << "zeltmp-STOCK.PX" << false << "untouched";
    QTest::newRow("lock file") << live << "PARADOX.LCK" << false << "untouched";
    QTest::newRow("in the backup tree") << "C:\\ShiftBackUp\\PERMDATA3"
                                        << ".zelcopy-a1B2c3" << false << "untouched";
  }
  void leftovers() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(bool, originalExists);
    QFETCH(QString, expected);
    Station s;
    const std::string leftover = (folder + "\\" + name).toStdString();
    s.WriteFile(leftover, "old bytes");
    const std::string original = (folder + "\\STOCK.PX").toStdString();
    if (originalExists) s.WriteFile(original, "new bytes");

    zel::repair::ClearLeftovers();

    const bool leftoverThere = QFile::exists(Station::Host(leftover));
    if (expected == "untouched") {
      QVERIFY(leftoverThere);
      QCOMPARE(Station::Bytes(Station::Host(leftover)), QByteArray("old bytes"));
    } else {
      QVERIFY(!leftoverThere);
    }
    if (expected == "put back")
      QCOMPARE(Station::Bytes(Station::Host(original)), QByteArray("old bytes"));
    else if (originalExists)
      QCOMPARE(Station::Bytes(Station::Host(original)), QByteArray("new bytes"));
  }

  // The clean-up never goes through a link: not in ZelUtil.Damaged's place, not into a linked
  // folder below it, and a leftover name that is a link is neither removed through nor renamed.
  // The decoy folder the links point at stays byte for byte as it was.
  void leftoversNeverFollowLinks_data() {
    QTest::addColumn<QString>("link");    // Windows path of the link
    QTest::addColumn<QString>("target");  // "folder" or "file" in the decoy tree
    QTest::newRow("ZelUtil.Damaged is a link") << "C:\\ZelPos\\ZelUtil.Damaged"
                                               << "folder";
    QTest::newRow("run folder is a link") << "C:\\ZelPos\\ZelUtil.Damaged\\20260101-000000"
                                          << "folder";
    QTest::newRow("temporary name is a link") << "C:\\ZelPos\\ZelUtil.Damaged\\.zelcopy-a1B2c3"
                                              << "file";
    QTest::newRow("kept name is a link in a data folder")
        << "C:\\ZELPOS\\PERMDATA\\.STOCK.PX.zelold-a1B2c3"
        << "file";
  }
  void leftoversNeverFollowLinks() {
    QFETCH(QString, link);
    QFETCH(QString, target);
    Station s;
    QTemporaryDir decoys;
    const QString decoy = decoys.filePath("tree");
    QVERIFY(QDir().mkpath(decoy + "/PERMDATA"));
    for (const char* name : {".zelcopy-a1B2c3", ".STOCK.PX.zelold-a1B2c3", "PERMDATA/.zelspill-x",
                             "PERMDATA/.STOCK.DB.zelold-a1B2c3"}) {
      QFile f(decoy + "/" + QString::fromLatin1(name));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("decoy");
    }
    s.WriteFile("C:\\ZelPos\\ZelUtil.Damaged\\keep.txt", "mine");
    const QString host = Station::Host(link.toStdString());
    QVERIFY(QDir().mkpath(QFileInfo(host).path()));
    QFile::remove(host);
    QDir(host).removeRecursively();
    QVERIFY(QFile::link(target == "folder" ? decoy : decoy + "/.STOCK.PX.zelold-a1B2c3", host));

    zel::repair::ClearLeftovers();

    QStringList left;
    for (QDirIterator it(decoy, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
      const QString file = it.next();
      QCOMPARE(Station::Bytes(file), QByteArray("decoy"));
      left << file;
    }
    QCOMPARE(left.size(), 4);
    QVERIFY(QFileInfo(host).isSymLink());  // the link itself stays too
    QVERIFY(!QFileInfo::exists(Station::Host("C:\\ZELPOS\\PERMDATA\\STOCK.PX")));
  }

  void keptFileNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("original");
    QTest::newRow("index") << ".STOCK.PX.zelold-XyZ123"
                           << "STOCK.PX";
    QTest::newRow("dots in the name") << ".A.B.DB.zelold-XyZ123"
                                      << "A.B.DB";
    QTest::newRow("no name") << "..zelold-XyZ123"
                             << "";
    QTest::newRow("no leading dot") << "STOCK.PX.zelold-XyZ123"
                                    << "";
    QTest::newRow("temporary") << ".STOCK.PX.zeltmp-XyZ123"
                               << "";
  }
  void keptFileNames() {
    QFETCH(QString, name);
    QFETCH(QString, original);
    QCOMPARE(QString::fromStdString(zel::repair::OriginalNameOfKeptFile(name.toStdString())),
             original);
  }
};

QTEST_GUILESS_MAIN(SafeguardsTest)
#include "tst_safeguards.moc"
