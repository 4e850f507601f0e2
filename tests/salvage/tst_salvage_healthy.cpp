// Salvage of tables nothing damaged gives back every record, value for value: every Borland
// sample table but the encrypted ones (skipped without the samples), every table of a demo
// station (which the deep check finds no damage in), and the writer's tables holding what Borland's
// engine leaves in healthy tables (old bytes after an alpha value's zero, dates before 1 AD). The
// values are compared as salvage's CSV writes them: the records of the original's chain, of the new
// table, and the new CSV's rows.
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

#include "engine/CsvExport.h"
#include "engine/DeepCheck.h"
#include "engine/EngineError.h"
#include "engine/RecordEncoding.h"
#include "engine/Salvage.h"
#include "tests/salvage/SalvageFixtures.h"
#include "tests/support/DemoStations.h"
#include "tests/support/Samples.h"

using namespace zel::engine;
using namespace salvagetest;

namespace {

int CodePageOf(const px::Header& h) {
  if (h.hasDataHeader && h.codePage != 0) return h.codePage;
  return h.hasDataHeader ? 1252 : 437;
}

QList<QStringList> Sorted(QList<QStringList> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// The CSV rows of `records` (raw records of a table with header `h`), sorted.
QList<QStringList> Rows(const px::Header& h, const QList<QByteArray>& records,
                        const QString& scratch) {
  {
    csv::RecordCsv out(scratch.toStdString(), h, CodePageOf(h));
    for (const QByteArray& r : records) out.Add(reinterpret_cast<const std::uint8_t*>(r.data()));
    out.Commit();
  }
  return Sorted(CsvRows(scratch));
}

}  // namespace

class TestSalvageHealthy : public QObject {
  Q_OBJECT

 private:
  // Salvages `db` into a new folder and compares; `what` names the table in messages.
  void Check(const QString& db, const QString& what) {
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const px::Header h = HeaderOf(db);
    const QList<QByteArray> original = ChainRecords(db);
    const SalvageReport r = SalvageTable(db.toStdString(), (out.path() + "/NEW.DB").toStdString());
    // Nothing but the new files: no left-over of a first attempt.
    for (const QString& name : QDir(out.path()).entryList(QDir::Files)) {
      QVERIFY2(
          QStringList({"NEW.DB", "NEW.PX", "NEW.MB", "NEW.csv", "NEW.outside.csv"}).contains(name),
          qPrintable(what + ": a stray file " + name));
    }
    const QString counts = QString(" (recovered %1, dropped %2, duplicated %3, outside %4)")
                               .arg(r.recovered)
                               .arg(r.dropped)
                               .arg(r.duplicated)
                               .arg(r.outsideChain);
    QVERIFY2(r.chainIntact, qPrintable(what + ": chain not intact" + counts));
    QVERIFY2(r.dropped == 0 && r.duplicated == 0, qPrintable(what + ": records lost" + counts));
    QVERIFY2(r.recovered == quint64(original.size()),
             qPrintable(what + QString(": %1 records in the table").arg(original.size()) + counts));
    const QList<QStringList> expected = Rows(h, original, out.path() + "/expected.csv");
    QVERIFY2(Sorted(CsvRows(out.path() + "/NEW.csv")) == expected,
             qPrintable(what + ": the CSV's values differ from the table's"));
    // A sample kept without its .MB (MEMBRE) cannot give its BLOB values back: the new table has
    // its other values, and the missing ones are counted rather than compared.
    if (r.blobsUnreadable > 0) {
      QVERIFY2(
          !QFileInfo::exists(QString(db).replace(QRegularExpression("\\.[Dd][Bb]$"), ".MB")) &&
              !QFileInfo::exists(QString(db).replace(QRegularExpression("\\.[Dd][Bb]$"), ".mb")),
          qPrintable(what + ": BLOB values unreadable though its .MB is there"));
    } else if (r.tableWritten) {
      const QString newDb = out.path() + "/NEW.DB";
      QVERIFY2(Rows(HeaderOf(newDb), ChainRecords(newDb), out.path() + "/new.csv") == expected,
               qPrintable(what + ": the new table's values differ from the old one's"));
      const DeepCheckResult deep = DeepCheckTable(newDb.toStdString());
      QVERIFY2(deep.Clean(), qPrintable(what + ": the new table is not clean"));
    }
  }

 private slots:
  void everySampleTable() {
    ZEL_NEED_SAMPLE(QString(), "salvage of every Borland sample table");
    const QString root = zel::test::SamplesDir();
    const QStringList tables = zel::test::SampleTables();
    QVERIFY(tables.size() >= 60);
    int checked = 0;
    for (const QString& t : tables) {
      if (HeaderOf(root + "/" + t).Encrypted()) continue;  // salvage refuses without a password
      Check(root + "/" + t, t);
      if (QTest::currentTestFailed()) return;
      ++checked;
    }
    qInfo("%d sample tables salvaged whole", checked);
  }

  void everyDemoStationTable() {
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const QString error = zel::test::BuildDemoStation(prefix.path() + "/station");
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QDirIterator it(prefix.path(), {"*.db", "*.DB"}, QDir::Files, QDirIterator::Subdirectories);
    int checked = 0;
    while (it.hasNext()) {
      const QString db = it.next();
      const DeepCheckResult deep = DeepCheckTable(db.toStdString());
      if (!deep.Clean())
        QFAIL(qPrintable(db + ": the deep check finds damage: " +
                         QString::fromStdString(deep.problems[0].Describe())));
      Check(db, db);
      if (QTest::currentTestFailed()) return;
      ++checked;
    }
    QVERIFY(checked > 5);
    qInfo("%d demo station tables salvaged whole", checked);
  }

  // A healthy table whose chain does not run in file order (blocks 2 and 5 change places, the
  // links follow): salvage reads it the general way after giving up on the one read, and loses
  // nothing.
  void chainNotInFileOrder() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString db = enginetest::MadeOrders(tmp.path());
    const px::Header h = HeaderOf(db);
    QCOMPARE(int(h.fileBlocks), 8);
    const QList<QByteArray> before = ChainRecords(db);
    QByteArray file = enginetest::Read(db);
    const int bs = int(h.BlockSize());
    const QByteArray two = file.mid(BlockOffset(h, 2), bs), five = file.mid(BlockOffset(h, 5), bs);
    file.replace(BlockOffset(h, 2), bs, five);
    file.replace(BlockOffset(h, 5), bs, two);
    const int at[] = {0, 1, 5, 3, 4, 2, 6, 7, 8};  // where logical block i now lies
    for (int i = 1; i <= 8; ++i) {
      const int o = BlockOffset(h, at[i]);
      const int next = i < 8 ? at[i + 1] : 0, prev = i > 1 ? at[i - 1] : 0;
      file[o] = char(next & 0xFF);
      file[o + 1] = char(next >> 8);
      file[o + 2] = char(prev & 0xFF);
      file[o + 3] = char(prev >> 8);
    }
    enginetest::Write(db, file);
    QCOMPARE(ChainRecords(db), before);
    Check(db, "ORDERS, blocks 2 and 5 swapped");
  }

  // What Borland's engine leaves in a healthy table, written into the writer's: old bytes after
  // the zero of a shorter later value (keyed on the alpha field, so the keys carry them too), a
  // date before 1 AD (Borland's TypSammlung.DB holds day -366).
  void whatBorlandLeavesComesBack() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    TableDef def;
    def.level = 7;
    def.keyFieldCount = 1;
    def.fields = {{"Name", FieldType::Alpha, 12}, {"Day", FieldType::Date, 0}};
    std::vector<Record> records;
    for (int i = 0; i < 200; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "n%04d", i);
      records.push_back({std::string(name), enginetest::made::Day(i)});
    }
    const QString db = enginetest::made::Create(tmp.path(), "LEFT.DB", def, records);
    const px::Header h = HeaderOf(db);
    QByteArray file = enginetest::Read(db);
    for (int b = 1; b <= int(h.fileBlocks); ++b) {
      const QList<QByteArray> recs = BlockRecords(file, h, b);
      for (int i = 0; i < recs.size(); ++i) {
        const int at = BlockOffset(h, b) + 6 + i * h.recordSize;
        file.replace(at + 6, 5, QByteArray("-old\0", 5).left(5));  // after "nNNNN\0"
      }
    }
    QByteArray bc(4, 0);
    record::PutSortableLong(reinterpret_cast<std::uint8_t*>(bc.data()), -366);
    file.replace(BlockOffset(h, 1) + 6 + 12, 4, bc);
    enginetest::Write(db, file);
    // The .PX holds each block's first key as its record holds it.
    const QString pxFile = enginetest::Beside(db, ".PX");
    const px::Header pxh = HeaderOf(pxFile);
    QByteArray pxBytes = enginetest::Read(pxFile);
    for (int i = 0; i < int(pxh.numRecords); ++i)
      pxBytes.replace(BlockOffset(pxh, 1) + 6 + i * pxh.recordSize + 6, 5,
                      QByteArray("-old\0", 5).left(5));
    enginetest::Write(pxFile, pxBytes);
    const DeepCheckResult deep = DeepCheckTable(db.toStdString());
    if (!deep.Clean()) QFAIL(deep.problems[0].Describe().c_str());
    Check(db, "LEFT.DB");
  }
};

QTEST_GUILESS_MAIN(TestSalvageHealthy)
#include "tst_salvage_healthy.moc"
