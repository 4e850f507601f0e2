// Step 2 as a whole: the master-till rule, folder lines, the TablesOk guard and the summary.
#include "tests/step2/Station.h"

using zel::test::Station;
using zel::test::TestLines;

namespace {

const char* kHeadings[] = {"Testing Dispdata Files.......", "Testing Configdata Files.......",
                           "Testing History Files.......", "Testing TempData Files.......",
                           "Testing PermData Files......."};

QStringList FolderLines(std::initializer_list<int> blocks) {
  QStringList lines{"Step 2"};
  for (int block : blocks) lines << kHeadings[block] << QString(kHeadings[block]) + "Done";
  return lines;
}

void SetTill(Station& s, const QByteArray& till) {
  s.WriteFile("c:\\Zelpos\\Zelpos.ini", "[Main]\r\nTillNumber=" + till + "\r\n");
}

}  // namespace

class CheckAllTablesTest : public QObject {
  Q_OBJECT

 private slots:
  void healthyMasterTill() {
    Station s;
    Station::CreateAll();
    SetTill(s, "FC  1 - A");
    s.form->CheckAllTables();

    QCOMPARE(s.Lst2(), FolderLines({0, 1, 2, 3, 4}));
    QCOMPARE(s.view.lst2.currentRow(), s.view.lst2.count() - 1);
    QCOMPARE(s.view.lst1.count(), 122);
    QStringList expected;
    for (const auto& entry : zel::catalogue::Entries()) {
      const QString folder = entry.folder == "HISTORY" ? "History" : Station::Q(entry.folder);
      expected << TestLines(folder, Station::Q(entry.table), {"Done"});
    }
    QCOMPARE(s.Lst1(), expected);
    QCOMPARE(s.Lst3(), QStringList{""});
    QVERIFY(s.form->TablesOk);
    QCOMPARE(s.form->ProgressMaximum(), 23);
    QCOMPARE(s.form->ProgressPosition(), 23);  // full, never past its maximum
    QCOMPARE(s.form->Summary.tablesTested, 61);
    QCOMPARE(s.form->Summary.tablesUnusable, 0);
    QCOMPARE(s.form->Summary.tablesSkipped, 0);
    QVERIFY(s.fake.dialogs.shown.empty());
  }

  // A restore's last test looks at the primary index only; the summary must not count the
  // table usable while its named index is missing, so the console cannot end with status 0.
  void summaryChecksNamedIndexesAfterARepair() {
    Station s;
    Station::CreateAll();
    SetTill(s, "FC  1 - A");
    Station::Write("PERMDATA", "STOCK", "C:\\ZELPOS\\PERMDATA", 3);
    Station::Corrupt(Station::Live("PERMDATA", "STOCK", ".DB"));
    Station::Write("PERMDATA", "STOCK", "C:\\ShiftBackUp\\PERMDATA1", 2);
    for (const char* ext : {".XG0", ".YG0"})
      QVERIFY(QFile::remove(Station::Host(std::string("C:\\ShiftBackUp\\PERMDATA1\\STOCK") + ext)));
    s.form->CheckAllTables();

    QVERIFY(s.Lst2().contains("Backup File Succesfully Restored  PERMDATA\\STOCK ....Done"));
    QCOMPARE(s.form->Summary.tablesTested, 61);
    QCOMPARE(s.form->Summary.tablesUnusable, 1);
  }

  void otherTills_data() {
    QTest::addColumn<bool>("writeIni");
    QTest::addColumn<QByteArray>("till");
    QTest::newRow("one blank") << true << QByteArray("FC 1 - A");
    QTest::newRow("lower case") << true << QByteArray("fc  1 - a");
    QTest::newRow("empty value") << true << QByteArray("");
    QTest::newRow("another till") << true << QByteArray("FC  2 - B");
    QTest::newRow("no settings file") << false << QByteArray();
  }
  void otherTills() {
    QFETCH(bool, writeIni);
    QFETCH(QByteArray, till);
    Station s;
    Station::CreateAll();
    if (writeIni) SetTill(s, till);
    s.form->CheckAllTables();

    QCOMPARE(s.Lst2(), FolderLines({0, 2, 3}));
    QCOMPARE(s.Lst2().last(), QString("Testing TempData Files.......Done"));
    QCOMPARE(s.view.lst2.currentRow(), -1);
    QCOMPARE(s.view.lst1.count(), 62);
    for (const QString& line : s.Lst1())
      QVERIFY2(!line.contains("CONFIGDATA") && !line.contains("PERMDATA"), qPrintable(line));
    QCOMPARE(s.form->Summary.tablesTested, 31);
    QCOMPARE(s.form->Summary.tablesSkipped, 0);
  }

  // DISPLAY stays unusable (its damaged data file cannot be deleted, so no new one is made).
  void unrepairedDisplay_data() {
    QTest::addColumn<bool>("master");
    QTest::addColumn<int>("tested");
    QTest::addColumn<int>("skipped");
    QTest::newRow("other till skips history and current shift") << false << 1 << 30;
    QTest::newRow("master till re-arms for configuration") << true << 61 << 0;
  }
  void unrepairedDisplay() {
    QFETCH(bool, master);
    QFETCH(int, tested);
    QFETCH(int, skipped);
    Station s;
    Station::CreateAll();
    SetTill(s, master ? "FC  1 - A" : "FC  2 - B");
    Station::Corrupt(Station::Live("DISPDATA", "DISPLAY", ".DB"));
    s.files.failWhen = [](zel::test::HookedFiles::Op op, const std::string& path) {
      return op == zel::test::HookedFiles::Op::Delete && path.ends_with("DISPLAY.DB");
    };
    s.form->CheckAllTables();

    QCOMPARE(s.form->Summary.tablesTested, tested);
    QCOMPARE(s.form->Summary.tablesUnusable, 1);
    QCOMPARE(s.form->Summary.tablesSkipped, skipped);
    QVERIFY(s.Lst2().contains("New File Failed DISPDATA\\DISPLAY ....Failed"));
    const QStringList lst2 = s.Lst2();
    // Skipped folders still show their heading and closing lines.
    QVERIFY(lst2.contains("Testing History Files......."));
    QVERIFY(lst2.contains("Testing TempData Files.......Done"));
    const bool historyTested = s.Lst1().contains("Testing History PUMPHIST File.........Done");
    QCOMPARE(historyTested, master);
    if (!master) {
      // Three tests of DISPLAY (first, after the re-index, after the replacement), nothing else.
      QCOMPARE(s.Lst1(), TestLines("DISPDATA", "DISPLAY", {"Failed", "Failed", "Failed"}));
      QCOMPARE(lst2.last(), QString("Testing TempData Files.......Done"));
      QVERIFY(!s.form->TablesOk);
    }
  }

  // A repaired current-shift table re-arms the guard: the next table is tested as usual.
  void repairedTableLetsTheNextOneRun() {
    Station s;
    Station::CreateAll();
    SetTill(s, "FC  2 - B");
    Station::Corrupt(Station::Live("TEMPDATA", "CASHPAY", ".DB"));
    s.form->CheckAllTables();

    const QStringList lst1 = s.Lst1();
    const int at = lst1.indexOf("Testing TEMPDATA CASHPAY File.........Failed");
    QVERIFY(at > 0);
    QCOMPARE(lst1.mid(at - 1, 6), TestLines("TEMPDATA", "CASHPAY", {"Failed", "Failed", "Done"}));
    QCOMPARE(lst1.mid(at + 5, 2), TestLines("TEMPDATA", "COMBSALE", {"Done"}));
    QCOMPARE(s.Lst3(), (QStringList{"", "CASHPAY,TEMPDATA", "CASHPAY,TEMPDATA"}));
    QCOMPARE(s.form->Summary.tablesTested, 31);
    QCOMPARE(s.form->Summary.tablesUnusable, 0);
    QCOMPARE(s.view.lst1.count(), 66);
  }
};

QTEST_GUILESS_MAIN(CheckAllTablesTest)
#include "tst_checkalltables.moc"
