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

  // A check tests a failing table again after a pause; only the second test's lines show. A
  // table another program finished writing meanwhile passes; one still damaged fails once.
  void checkRetestsAfterAPause_data() {
    QTest::addColumn<bool>("fixedMeanwhile");
    QTest::newRow("written meanwhile") << true;
    QTest::newRow("still damaged") << false;
  }
  void checkRetestsAfterAPause() {
    QFETCH(bool, fixedMeanwhile);
    Station s;
    s.form->SetCheckOnly(true);
    Station::Create("CONFIGDATA", "GRADE");
    QVERIFY(Station::Remove("CONFIGDATA", "GRADE", ".PX"));
    if (fixedMeanwhile)
      s.fake.system.duringSleep = [] {
        Station::Remove("CONFIGDATA", "GRADE", ".DB");
        Station::Create("CONFIGDATA", "GRADE");
      };
    s.form->TablesOk = true;
    const int before = s.form->ProgressPosition();

    QCOMPARE(s.form->TestTable("CONFIGDATA", "GRADE", "", "GName", "", ""), fixedMeanwhile);
    QCOMPARE(s.fake.system.sleeps, std::vector<int>{500});
    QCOMPARE(s.Lst1(), TestLines("CONFIGDATA", "GRADE", {fixedMeanwhile ? "Done" : "Failed"}));
    const QStringList failures{"Test on CONFIGDATA\\GRADE\\Index-> ....Failed",
                               "Test on CONFIGDATA\\GRADE\\Index->GName ....Failed"};
    const QStringList lst3{"", "GRADE,CONFIGDATA"};
    QCOMPARE(s.Lst2(), fixedMeanwhile ? QStringList() : failures);
    QCOMPARE(s.Lst3(), fixedMeanwhile ? QStringList{""} : lst3);
    QCOMPARE(s.form->ProgressPosition(), before + 1);  // one step for the table, not two
    QCOMPARE(s.form->TablesOk, fixedMeanwhile);

    // A passing table is tested once, without a pause.
    s.fake.system.duringSleep = {};
    Station::Create("TEMPDATA", "ATTLOG");
    QVERIFY(s.form->TestTable("TEMPDATA", "ATTLOG", "", "", "", ""));
    QCOMPARE(s.fake.system.sleeps.size(), std::size_t(1));
  }

  // The pauses of one check add up to a few seconds at most: a folder a live process holds
  // fails table after table, and the check must not wait on each.
  void checkPausesAreCapped() {
    Station s;
    s.form->SetCheckOnly(true);
    for (int i = 0; i < 10; ++i) QVERIFY(!s.form->TestTable("TEMPDATA", "LINK", "", "", "", ""));
    int total = 0;
    for (const int pause : s.fake.system.sleeps) total += pause;
    QCOMPARE(total, 3000);
    QCOMPARE(s.Lst1(), TestLines("TEMPDATA", "LINK", QStringList(10, "Failed")));
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
