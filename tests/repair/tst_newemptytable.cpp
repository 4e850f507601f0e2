// Repair of transient tables: re-index, else a new empty table after the warning and a log line.
#include <QDateTime>

#include "tests/step2/Station.h"

using zel::test::HookedFiles;
using zel::test::Station;
using zel::test::TestLines;

namespace {

QString Warning(const QString& folder, const QString& table, int key) {
  return "Replace file : " + folder + " " + table + "\n\r" +
         Station::Q(zel::catalogue::WarningText(key));
}

const QDateTime kRunTime(QDate(2026, 12, 10), QTime(14, 30, 0));

}  // namespace

class NewEmptyTableTest : public QObject {
  Q_OBJECT

 private slots:
  void reIndexAloneRepairs() {
    Station s;
    Station::Write("DISPDATA", "DISPLAY", "C:\\ZELPOS\\DISPDATA", 3);
    QVERIFY(Station::Remove("DISPDATA", "DISPLAY", ".PX"));
    const QByteArray data = Station::Bytes(Station::Live("DISPDATA", "DISPLAY", ".DB"));

    s.form->RepairTransientTable("DISPDATA", "DISPLAY");
    QCOMPARE(s.Lst2(), (QStringList{"Deleting DISPDATA\\DISPLAY\\Index ....Files",
                                    "Creating DISPDATA\\DISPLAY\\Index ....Files",
                                    "New File Succesfully Restored  DISPDATA\\DISPLAY ....Done",
                                    "New File Succesfully Restored  DISPDATA\\DISPLAY ....Done"}));
    QCOMPARE(s.Lst1(), TestLines("DISPDATA", "DISPLAY", {"Done", "Done"}));
    QVERIFY(s.form->TablesOk);
    QVERIFY(s.fake.dialogs.shown.empty());
    QCOMPARE(s.LogLines(), QStringList());
    QCOMPARE(Station::Bytes(Station::Live("DISPDATA", "DISPLAY", ".DB")), data);
    QVERIFY(!QFileInfo::exists(Station::Host("C:\\ZelPos\\ZelUtil.Damaged")));
  }

  void replacedByNewEmptyTable() {
    Station s;
    s.SetClock(kRunTime);
    Station::Write("TEMPDATA", "ATTLOG", "C:\\ZELPOS\\TEMPDATA", 4);
    Station::Corrupt(Station::Live("TEMPDATA", "ATTLOG", ".DB"));
    const QByteArray damaged = Station::Bytes(Station::Live("TEMPDATA", "ATTLOG", ".DB"));

    s.form->RepairTransientTable("TEMPDATA", "ATTLOG");
    QCOMPARE(s.Lst2(), (QStringList{"Deleting TEMPDATA\\ATTLOG\\Index ....Files",
                                    "Creating TEMPDATA\\ATTLOG\\Index ....Files",
                                    "Test on TEMPDATA\\ATTLOG\\Index-> ....Failed",
                                    "Deleting Old Table TEMPDATA\\ATTLOG ....",
                                    "Creating TEMPDATA\\ATTLOG\\ New  ....Files",
                                    "New File Succesfully Restored  TEMPDATA\\ATTLOG ....Done"}));
    QCOMPARE(s.Lst1(), TestLines("TEMPDATA", "ATTLOG", {"Failed", "Done"}));
    QCOMPARE(s.Lst3(), (QStringList{"", "ATTLOG,TEMPDATA"}));
    QVERIFY(s.form->TablesOk);
    QCOMPARE(s.LogLines(), QStringList{"Create new file :TEMPDATA ATTLOG"});
    QCOMPARE(s.fake.dialogs.shown.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(s.fake.dialogs.shown[0].text),
             Warning("TEMPDATA", "ATTLOG", 9));
    QVERIFY(s.fake.dialogs.shown[0].kind == zel::platform::DialogKind::Information);
    QVERIFY(s.fake.dialogs.shown[0].buttons == zel::platform::DialogButtons::Ok);
    // The damaged table is kept for salvage, byte for byte.
    QCOMPARE(Station::Bytes(Station::Host(
                 "C:\\ZelPos\\ZelUtil.Damaged\\20261210-143000\\TEMPDATA\\ATTLOG.DB")),
             damaged);
  }

  // One flag carried from file to file: a missing file repeats the outcome of the one before.
  void deletionLines_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("failureLines");
    QTest::newRow("all eight missing") << "NOSUCH"
                                       << "" << 8;
    QTest::newRow("data file only") << "ATTLOG"
                                    << "db" << 0;
    QTest::newRow("data file missing, primary index deleted") << "ATTLOG"
                                                              << "px" << 1;
    QTest::newRow("undeletable file after deleted ones") << "ATTLOG"
                                                         << "db,px,xg0-held" << 6;
  }
  void deletionLines() {
    QFETCH(QString, table);
    QFETCH(QString, setup);
    QFETCH(int, failureLines);
    Station s;
    if (setup.contains("db")) Station::Create("TEMPDATA", "ATTLOG");
    if (setup.contains("px")) s.WriteFile("C:\\ZELPOS\\TEMPDATA\\ATTLOG.PX", "x");
    if (setup.contains("xg0")) s.WriteFile("C:\\ZELPOS\\TEMPDATA\\ATTLOG.XG0", "x");
    if (setup.contains("held"))
      s.files.failWhen = [](HookedFiles::Op op, const std::string& path) {
        return op == HookedFiles::Op::Delete && path.ends_with(".XG0");
      };

    s.form->DeleteTableAndRecreate("TEMPDATA", table.toStdString());
    QStringList expected{"Deleting Old Table TEMPDATA\\" + table + " ...."};
    for (int i = 0; i < failureLines; ++i)
      expected << "Delete TEMPDATA\\" + table + "\\Index ....Failed";
    expected << "Creating TEMPDATA\\" + table + "\\ New  ....Files";
    QCOMPARE(s.Lst2(), expected);
    QVERIFY(!QFile::exists(Station::Live("TEMPDATA", "ATTLOG", ".PX")));
  }

  void createNewFile_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("made");  // the table the creator builds, empty for none
    QTest::newRow("no warning") << "TEMPDATA"
                                << "AUTOATT"
                                << ""
                                << "C:\\ZELPOS\\TEMPDATA\\AUTOATT.DB";
    QTest::newRow("history in mixed case")
        << "History"
        << "PUMPHIST" << Warning("History", "PUMPHIST", 2) << "C:\\ZELPOS\\HISTORY\\PUMPHIST.DB";
    QTest::newRow("not in the catalogue") << "TEMPDATA"
                                          << "NOSUCH"
                                          << ""
                                          << "";
  }
  void createNewFile() {
    QFETCH(QString, folder);
    QFETCH(QString, table);
    QFETCH(QString, dialog);
    QFETCH(QString, made);
    Station s;
    s.form->CreateNewFile(folder.toStdString(), table.toStdString());
    QCOMPARE(s.Lst2(), QStringList{"Creating " + folder + "\\" + table + "\\ New  ....Files"});
    QCOMPARE(s.LogLines(), QStringList{"Create new file :" + folder + " " + table});
    QCOMPARE(s.fake.dialogs.shown.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(s.fake.dialogs.shown[0].text), dialog);
    if (!made.isEmpty()) QVERIFY(QFile::exists(Station::Host(made.toStdString())));
    QCOMPARE(s.form->TestTable(folder.toStdString(), table.toStdString(), "", "", "", ""),
             !made.isEmpty());
  }

  void pairNotInCatalogueFails() {
    Station s;
    s.form->RepairTransientTable("TEMPDATA", "NOSUCH");
    QCOMPARE(s.Lst2().last(), QString("New File Failed TEMPDATA\\NOSUCH ....Failed"));
    QCOMPARE(s.Lst1(), TestLines("TEMPDATA", "NOSUCH", {"Failed", "Failed"}));
    QVERIFY(!s.form->TablesOk);
  }

  // Damaged files that cannot be kept are not deleted: the failure shows, nothing is created
  // over them, and the table stays unusable for a later run.
  void failedSaveKeepsTheTable() {
    Station s;
    Station::Create("TEMPDATA", "ATTLOG");
    Station::Corrupt(Station::Live("TEMPDATA", "ATTLOG", ".DB"));
    const QByteArray damaged = Station::Bytes(Station::Live("TEMPDATA", "ATTLOG", ".DB"));
    s.files.failWhen = [](HookedFiles::Op op, const std::string&) {
      return op == HookedFiles::Op::CreateDirectories;
    };
    s.form->RepairTransientTable("TEMPDATA", "ATTLOG");
    const QStringList lst2 = s.Lst2();
    const int at = lst2.indexOf("Deleting Old Table TEMPDATA\\ATTLOG ....");
    QVERIFY(at >= 0);
    QCOMPARE(lst2.value(at + 1), QString("Save damaged files TEMPDATA\\ATTLOG ....Failed"));
    QCOMPARE(lst2.last(), QString("New File Failed TEMPDATA\\ATTLOG ....Failed"));
    QVERIFY(!lst2.contains("Creating TEMPDATA\\ATTLOG\\ New  ....Files"));
    QVERIFY(s.fake.dialogs.shown.empty());
    QCOMPARE(s.LogLines(), QStringList());
    QCOMPARE(Station::Bytes(Station::Live("TEMPDATA", "ATTLOG", ".DB")), damaged);
    QVERIFY(!s.form->TablesOk);
  }

  // A log that cannot be written skips the rest of the creation; the damaged table was saved.
  void logFailureSkipsTheCreation() {
    Station s;
    s.SetClock(kRunTime);
    Station::Create("TEMPDATA", "ATTLOG");
    Station::Corrupt(Station::Live("TEMPDATA", "ATTLOG", ".DB"));
    const QByteArray damaged = Station::Bytes(Station::Live("TEMPDATA", "ATTLOG", ".DB"));
    s.files.failWhen = [](HookedFiles::Op op, const std::string&) {
      return op == HookedFiles::Op::Append;
    };
    s.form->RepairTransientTable("TEMPDATA", "ATTLOG");
    QVERIFY(s.fake.dialogs.shown.empty());
    QCOMPARE(s.Lst2().last(), QString("New File Failed TEMPDATA\\ATTLOG ....Failed"));
    QVERIFY(!s.form->TablesOk);
    QCOMPARE(Station::Bytes(Station::Host(
                 "C:\\ZelPos\\ZelUtil.Damaged\\20261210-143000\\TEMPDATA\\ATTLOG.DB")),
             damaged);
  }
};

QTEST_GUILESS_MAIN(NewEmptyTableTest)
#include "tst_newemptytable.moc"
