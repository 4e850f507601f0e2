// Re-index: which files go, which lines show, and that the index creator rebuilds.
#include "tests/step2/Station.h"

using zel::test::HookedFiles;
using zel::test::Station;

class ReIndexTest : public QObject {
  Q_OBJECT

 private slots:
  void rebuildsIndexesAndKeepsTheDataFile() {
    Station s;
    Station::Write("CONFIGDATA", "GRADE", "C:\\ZELPOS\\CONFIGDATA", 5);
    s.WriteFile("C:\\ZELPOS\\CONFIGDATA\\GRADE.VAL", "stale");
    QVERIFY(Station::Remove("CONFIGDATA", "GRADE", ".PX"));
    const QByteArray data = Station::Bytes(Station::Live("CONFIGDATA", "GRADE", ".DB"));
    QVERIFY(!s.form->TestTable("CONFIGDATA", "GRADE", "", "GName", "", ""));

    const int before = s.view.lst2.count();
    s.form->ReIndexTable("CONFIGDATA", "GRADE");
    QCOMPARE(s.Lst2().mid(before), (QStringList{"Deleting CONFIGDATA\\GRADE\\Index ....Files",
                                                "Creating CONFIGDATA\\GRADE\\Index ....Files"}));
    QVERIFY(!QFile::exists(Station::Live("CONFIGDATA", "GRADE", ".VAL")));
    QCOMPARE(Station::Bytes(Station::Live("CONFIGDATA", "GRADE", ".DB")), data);
    QVERIFY(s.form->TestTable("CONFIGDATA", "GRADE", "", "GName", "", ""));
  }

  // Files held by another program stay; one identical line per file that could not go.
  void undeletableFilesGiveOneLineEach() {
    Station s;
    Station::Create("CONFIGDATA", "GRADE");
    s.WriteFile("C:\\ZELPOS\\CONFIGDATA\\GRADE.XG1", "x");
    s.files.failWhen = [](HookedFiles::Op op, const std::string& path) {
      return op == HookedFiles::Op::Delete && (path.ends_with(".PX") || path.ends_with(".XG1"));
    };
    s.form->DeleteIndexFiles("CONFIGDATA", "GRADE");
    QCOMPARE(s.Lst2(), (QStringList{"Deleting CONFIGDATA\\GRADE\\Index ....Files",
                                    "Delete CONFIGDATA\\GRADE\\Index ....Failed",
                                    "Delete CONFIGDATA\\GRADE\\Index ....Failed"}));
    QVERIFY(QFile::exists(Station::Live("CONFIGDATA", "GRADE", ".PX")));
    QVERIFY(QFile::exists(Station::Live("CONFIGDATA", "GRADE", ".XG1")));
  }

  void nothingToDeleteOrNoIndexCreator_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("table");
    QTest::newRow("table without index files") << "TEMPDATA"
                                               << "ATTLOG";
    QTest::newRow("pair not in the catalogue") << "TEMPDATA"
                                               << "NOSUCH";
  }
  void nothingToDeleteOrNoIndexCreator() {
    QFETCH(QString, folder);
    QFETCH(QString, table);
    Station s;
    Station::Create("TEMPDATA", "ATTLOG");
    const QByteArray data = Station::Bytes(Station::Live("TEMPDATA", "ATTLOG", ".DB"));
    s.form->ReIndexTable(folder.toStdString(), table.toStdString());
    QCOMPARE(s.Lst2(), (QStringList{"Deleting " + folder + "\\" + table + "\\Index ....Files",
                                    "Creating " + folder + "\\" + table + "\\Index ....Files"}));
    QCOMPARE(Station::Bytes(Station::Live("TEMPDATA", "ATTLOG", ".DB")), data);
  }

  void emptyTableNameShowsNothing() {
    Station s;
    s.form->ReIndexTable("CONFIGDATA", "");
    QCOMPARE(s.Lst2(), QStringList());
    QVERIFY(s.files.deleted.empty());
  }
};

QTEST_GUILESS_MAIN(ReIndexTest)
#include "tst_reindex.moc"
