// The table test: lines, progress and TablesOk for passing and failing opens.
#include "tests/step2/Station.h"

using zel::test::Station;
using zel::test::TestLines;

class TableTestTest : public QObject {
  Q_OBJECT

 private slots:
  void passingTableWithoutNamedIndex() {
    Station s;
    Station::Create("TEMPDATA", "ATTLOG");
    const int before = s.form->ProgressPosition();
    QVERIFY(s.form->TestTable("TEMPDATA", "ATTLOG", "", "", "", ""));
    QCOMPARE(s.Lst1(), TestLines("TEMPDATA", "ATTLOG", {"Done"}));
    QCOMPARE(s.Lst2(), QStringList());
    QCOMPARE(s.Lst3(), QStringList{""});
    QCOMPARE(s.form->ProgressPosition(), before + 1);
    QVERIFY(s.form->TablesOk);
    QCOMPARE(s.view.lst1.currentRow(), 1);
    // Every open is followed by a close of the table and of the session.
    QVERIFY(!s.form->tbl1.Active());
    QCOMPARE(s.form->tbl1.DatabaseName(), std::string("TEMPDATA"));
    QCOMPARE(s.form->tbl1.TableName(), std::string("ATTLOG.db"));
  }

  void failingSlots_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QStringList>("lst2");
    // The named index is still tried after the primary has failed (it needs the primary too).
    QTest::newRow("primary index missing")
        << "px"
        << QStringList{"Test on CONFIGDATA\\GRADE\\Index-> ....Failed",
                       "Test on CONFIGDATA\\GRADE\\Index->GName ....Failed"};
    QTest::newRow("named index only")
        << "named" << QStringList{"Test on CONFIGDATA\\GRADE\\Index->GName ....Failed"};
    QTest::newRow("every slot") << "db"
                                << QStringList{
                                       "Test on CONFIGDATA\\GRADE\\Index-> ....Failed",
                                       "Test on CONFIGDATA\\GRADE\\Index->GName ....Failed"};
  }
  void failingSlots() {
    QFETCH(QString, damage);
    QFETCH(QStringList, lst2);
    Station s;
    Station::Create("CONFIGDATA", "GRADE");
    if (damage == "px") QVERIFY(Station::Remove("CONFIGDATA", "GRADE", ".PX"));
    if (damage == "named") Station::RemoveSecondaryIndexes("CONFIGDATA", "GRADE");
    if (damage == "db") Station::Corrupt(Station::Live("CONFIGDATA", "GRADE", ".DB"));
    s.form->TablesOk = true;

    QVERIFY(!s.form->TestTable("CONFIGDATA", "GRADE", "", "GName", "", ""));
    QCOMPARE(s.Lst1(), TestLines("CONFIGDATA", "GRADE", {"Failed"}));
    QCOMPARE(s.Lst2(), lst2);
    QCOMPARE(s.Lst3(), (QStringList{"", "GRADE,CONFIGDATA"}));
    QVERIFY(!s.form->TablesOk);
    QCOMPARE(s.form->tbl1.IndexName(), std::string("GName"));  // the last slot tried
  }

  void historyUnderMixedCaseAlias() {
    Station s;
    Station::Create("HISTORY", "PUMPHIST");
    QVERIFY(s.form->TestTable("History", "PUMPHIST", "", "", "", ""));
    Station::Corrupt(Station::Live("HISTORY", "PUMPHIST", ".DB"));
    QVERIFY(!s.form->TestTable("History", "PUMPHIST", "", "", "", ""));
    QCOMPARE(s.Lst1(), TestLines("History", "PUMPHIST", {"Done", "Failed"}));
    QCOMPARE(s.Lst2(), QStringList{"Test on History\\PUMPHIST\\Index-> ....Failed"});
    QCOMPARE(s.Lst3(), (QStringList{"", "PUMPHIST,History"}));
  }

  // A re-test that passes sets TablesOk back; the earlier lst3 line stays, each failure adds one.
  void retestsAddTheirOwnLines() {
    Station s;
    QVERIFY(!s.form->TestTable("TEMPDATA", "LINK", "", "", "", ""));  // no table yet
    QVERIFY(!s.form->TestTable("TEMPDATA", "LINK", "", "", "", ""));
    Station::Create("TEMPDATA", "LINK");
    QVERIFY(s.form->TestTable("TEMPDATA", "LINK", "", "", "", ""));
    QVERIFY(s.form->TablesOk);
    QCOMPARE(s.Lst1(), TestLines("TEMPDATA", "LINK", {"Failed", "Failed", "Done"}));
    QCOMPARE(s.Lst3(), (QStringList{"", "LINK,TEMPDATA", "LINK,TEMPDATA"}));
    QCOMPARE(s.view.lst1.currentRow(), 5);
  }

  void emptyTableNameDoesNothing() {
    Station s;
    s.form->TablesOk = true;
    const int before = s.form->ProgressPosition();
    QVERIFY(!s.form->TestTable("TEMPDATA", "", "", "", "", ""));
    QCOMPARE(s.Lst1(), QStringList());
    QCOMPARE(s.Lst2(), QStringList());
    QCOMPARE(s.Lst3(), QStringList{""});
    QCOMPARE(s.form->ProgressPosition(), before);
    QVERIFY(s.form->TablesOk);
  }
};

QTEST_GUILESS_MAIN(TableTestTest)
#include "tst_tabletest.moc"
