// The technician's commands on demo stations: --put-back after each damage that ends in a new
// empty table or a restore, compared record by record with the station before the damage;
// --undo giving back every table file byte for byte; and their refusals.
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "technician/RecordMerge.h"
#include "tests/support/ChildProcess.h"
#include "tests/technician/TechnicianFixtures.h"

namespace zt = zel::test;
using zel::engine::Record;

namespace {

constexpr int kScale = 5;

QString ReportLine(const QString& out) {
  const QRegularExpressionMatch m =
      QRegularExpression("^report: (.*)$", QRegularExpression::MultilineOption).match(out);
  return m.hasMatch() ? m.captured(1) : QString();
}

QJsonObject RepairOf(const QJsonObject& report, const QString& folder, const QString& table) {
  for (const auto& value : report["tables"].toArray()) {
    const QJsonObject t = value.toObject();
    if (t["folder"].toString() == folder && t["table"].toString() == table)
      return t["repair"].toObject();
  }
  return {};
}

// Records of `a` not in `b`, each copy counted.
std::vector<Record> Missing(std::vector<Record> a, std::vector<Record> b) {
  std::vector<Record> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

}  // namespace

class PutBackTest : public QObject {
  Q_OBJECT

 private slots:
  void planMerge_data() {
    QTest::addColumn<int>("keyFields");
    QTest::addColumn<QList<int>>("added");
    QTest::addColumn<QList<int>>("present");
    QTest::addColumn<QList<int>>("violations");
    // Live: (1,a) (2,b) (2,b); salvaged: (1,a) (2,b) (2,b) (2,b) (3,c) (1,z) (3,d). Keyed,
    // (3,c) is added first, so (3,d) breaks its key; a heap's third (2,b) is a copy more.
    QTest::newRow("keyed") << 1 << QList<int>{4} << QList<int>{0, 1, 2, 3} << QList<int>{5, 6};
    QTest::newRow("heap") << 0 << QList<int>{3, 4, 5, 6} << QList<int>{0, 1, 2} << QList<int>{};
  }

  // A salvaged record present already is never added twice; a key present with other values is
  // a key violation; a heap's copies are matched one for one.
  void planMerge() {
    QFETCH(int, keyFields);
    QFETCH(QList<int>, added);
    QFETCH(QList<int>, present);
    QFETCH(QList<int>, violations);
    const auto rec = [](std::int64_t k, const char* v) { return Record{k, std::string(v)}; };
    const std::vector<Record> live = {rec(1, "a"), rec(2, "b"), rec(2, "b")};
    const std::vector<Record> salvaged = {rec(1, "a"), rec(2, "b"), rec(2, "b"), rec(2, "b"),
                                          rec(3, "c"), rec(1, "z"), rec(3, "d")};
    const zel::technician::MergePlan plan = zel::technician::PlanMerge(live, salvaged, keyFields);
    const auto list = [](const std::vector<std::size_t>& v) {
      QList<int> out;
      for (std::size_t i : v) out << int(i);
      return out;
    };
    QCOMPARE(list(plan.added), added);
    QCOMPARE(list(plan.alreadyPresent), present);
    QCOMPARE(list(plan.keyViolations), violations);
  }

  void putBackAfterNewEmptyTable_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("scale");
    // The folder as the lists and the report name it; a table cut short needs a second block.
    QTest::newRow("db-header") << "db-header"
                               << "TEMPDATA"
                               << "PUMPSALE" << kScale;
    QTest::newRow("db-truncated") << "db-truncated"
                                  << "History"
                                  << "PUMPHIST" << 100;
    QTest::newRow("table-missing") << "table-missing"
                                   << "TEMPDATA"
                                   << "CASHPAY" << kScale;
  }

  // A current-shift table replaced by a new empty one: after the run the till records a next
  // sale, then --put-back appends every record salvage read, and the table holds the station's
  // records before the damage (only those in what the damage destroyed missing) and the sale.
  void putBackAfterNewEmptyTable() {
    QFETCH(QString, damage);
    QFETCH(QString, folder);
    QFETCH(QString, table);
    QFETCH(int, scale);
    const std::string f = folder.toUpper().toStdString(), t = table.toStdString();
    QTemporaryDir before, station;
    QCOMPARE(zt::BuildDemoStation(before.path(), {}, scale), QString());
    QCOMPARE(zt::BuildDemoStation(station.path(), {damage}, scale), QString());
    const std::vector<Record> original = zt::SortedRecords(zt::TablePath(before.path(), f, t));
    QVERIFY(!original.empty());

    const zt::ConsoleResult run = zt::RunConsole(station.path(), {"--yes", "--simulate-power-off"});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject runReport = zt::ReadJson(zt::NewestReport(station.path()));
    const QJsonObject repair = RepairOf(runReport, folder, table);
    QCOMPARE(repair["kind"].toString(), "new-empty");
    QVERIFY(zt::SortedRecords(zt::TablePath(station.path(), f, t)).empty());

    // The next sale, recorded by the till after the run.
    Record sale = original.front();
    sale[0] = std::int64_t{900001};
    zt::WriteTable(station.path(), f, t, {sale});

    const zt::ConsoleResult putBack = zt::RunConsole(station.path(), {"--put-back", "latest"});
    QVERIFY2(putBack.exitCode == 0, qPrintable(putBack.err));
    std::vector<Record> expected = original;
    const std::uint64_t recovered =
        repair["salvage"].isObject() ? repair["salvage"]["recovered"].toInteger() : 0;
    const std::vector<Record> now = zt::SortedRecords(zt::TablePath(station.path(), f, t));
    std::vector<Record> withoutSale = now;
    const auto saleAt = std::find(withoutSale.begin(), withoutSale.end(), sale);
    QVERIFY2(saleAt != withoutSale.end(), "the next sale was lost");
    withoutSale.erase(saleAt);
    // Nothing that was not there before; what is missing is what salvage could not read.
    QVERIFY(Missing(withoutSale, original).empty());
    const std::vector<Record> missing = Missing(original, withoutSale);
    QCOMPARE(std::uint64_t(original.size() - missing.size()), recovered);
    if (!missing.empty())
      qInfo("%s\\%s: %zu records destroyed by the damage are missing", qPrintable(folder),
            qPrintable(table), missing.size());
    if (recovered == 0) {
      QVERIFY2(putBack.out.contains("nothing to put back"), qPrintable(putBack.out));
      return;
    }
    QVERIFY2(putBack.out.contains("put-back " + folder + "\\" + table + ": added " +
                                  QString::number(recovered)),
             qPrintable(putBack.out));

    // The command's report names the run and what it changed; a second put-back is refused.
    const QJsonObject own = zt::ReadJson(ReportLine(putBack.out));
    QCOMPARE(own["kind"].toString(), "put-back");
    QCOMPARE(own["schema"].toInt(), 3);
    const QJsonObject entry = RepairOf(own, folder, table);
    QCOMPARE(entry["putBack"]["added"].toInteger(), qint64(recovered));
    QVERIFY(!entry["manifest"].toArray().isEmpty());
    const zt::ConsoleResult again = zt::RunConsole(station.path(), {"--put-back", "latest"});
    QCOMPARE(again.exitCode, 3);
    QVERIFY2(again.err.contains("put back before"), qPrintable(again.err));
    QCOMPARE(zt::SortedRecords(zt::TablePath(station.path(), f, t)), now);

    // Undone, the table holds the next sale alone again.
    const zt::ConsoleResult undo =
        zt::RunConsole(station.path(), {"--undo", ReportLine(putBack.out)});
    QVERIFY2(undo.exitCode == 0, qPrintable(undo.err));
    QCOMPARE(zt::SortedRecords(zt::TablePath(station.path(), f, t)), std::vector<Record>{sale});
  }

  // A master table restored from a backup that lacks the latest changes: the report counts what
  // the restore lost and Lost-by-restore.csv lists it; --put-back --master adds the records only
  // the damaged table held, and a record whose values differ stays as the backup has it, listed
  // in KEYVIOL.csv.
  void masterPutBackAfterRestore() {
    QTemporaryDir before, station;
    QCOMPARE(zt::BuildDemoStation(before.path(), {}, kScale), QString());
    QCOMPARE(zt::BuildDemoStation(station.path(), {}, kScale), QString());
    const std::string f = "PERMDATA", t = "STOCK";
    // Changes since the backup, in both copies of the station: two new items, one new price.
    std::vector<Record> stock = zt::SortedRecords(zt::TablePath(before.path(), f, t));
    QVERIFY(stock.size() > 2);
    Record first = stock[0], second = stock[0];
    first[0] = std::string("ZZNEW1");
    second[0] = std::string("ZZNEW2");
    stock.push_back(first);
    stock.push_back(second);
    stock[1][3] = 123.45;
    zt::WriteTable(before.path(), f, t, stock);
    zt::WriteTable(station.path(), f, t, stock);
    // The damage: the data file's header overwritten.
    {
      QFile db(QString::fromStdString(zt::TablePath(station.path(), f, t).string()));
      QVERIFY(db.open(QIODevice::ReadWrite));
      db.write(QByteArray(8, char(0xEE)));
    }
    const zt::ConsoleResult run = zt::RunConsole(station.path(), {"--yes", "--simulate-power-off"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.contains("restoring PERMDATA\\STOCK lost 2 records"), qPrintable(run.err));
    const QJsonObject repair =
        RepairOf(zt::ReadJson(zt::NewestReport(station.path())), "PERMDATA", "STOCK");
    QCOMPARE(repair["kind"].toString(), "restore");
    const QJsonObject lost = repair["lostByRestore"].toObject();
    QCOMPARE(lost["onlyDamaged"].toInt(), 2);
    QCOMPARE(lost["differing"].toInt(), 1);
    QCOMPARE(lost["onlyBackup"].toInt(), 0);
    QFile csv(QString(lost["path"].toString())
                  .replace("C:\\ZelPos\\", station.path() + "/drive_c/ZELPOS/")
                  .replace('\\', '/'));
    QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(csv.fileName()));
    const QString listed = QString::fromUtf8(csv.readAll());
    QVERIFY(listed.startsWith("Folder,Table,Change,Key,Field,Damaged,Backup\r\n"));
    QVERIFY(listed.contains("PERMDATA,STOCK,only in the damaged table,ZZNEW1,"));
    QVERIFY(listed.contains("PERMDATA,STOCK,differing,"));

    // Without --master a put-back leaves the restored table alone.
    const zt::ConsoleResult plain = zt::RunConsole(station.path(), {"--put-back", "latest"});
    QCOMPARE(plain.exitCode, 0);
    QVERIFY2(plain.out.contains("nothing to put back"), qPrintable(plain.out));

    const zt::ConsoleResult putBack =
        zt::RunConsole(station.path(), {"--put-back", "latest", "--master", "STOCK"});
    QVERIFY2(putBack.exitCode == 0, qPrintable(putBack.err));
    QVERIFY2(putBack.out.contains("put-back PERMDATA\\STOCK: added 2, present already " +
                                  QString::number(stock.size() - 3) + ", key present 1"),
             qPrintable(putBack.out));
    std::vector<Record> expected = zt::SortedRecords(zt::TablePath(before.path(), f, t));
    const std::vector<Record> now = zt::SortedRecords(zt::TablePath(station.path(), f, t));
    const std::vector<Record> missing = Missing(expected, now);
    QCOMPARE(missing.size(), std::size_t{1});  // the new price: the backup's stays
    QCOMPARE(std::get<double>(missing[0][3]), 123.45);
    QCOMPARE(now.size(), expected.size());
  }

  // --undo gives back every table file of the five data folders as it was before the run, byte
  // for byte, over a run with every kind of repair; an undo of the undo gives back the run's.
  void undoGivesBackEveryTableFile() {
    QTemporaryDir station;
    QCOMPARE(
        zt::BuildDemoStation(station.path(),
                             {"px-missing", "px-damaged", "px-stale", "index-missing", "db-header",
                              "db-truncated", "table-missing", "db-header:PERMDATA/ATTEND"},
                             kScale),
        QString());
    const auto original = zt::TableFiles(station.path());
    const zt::ConsoleResult run = zt::RunConsole(station.path(), {"--yes", "--simulate-power-off"});
    QCOMPARE(run.exitCode, 0);
    const QString runReport = zt::NewestReport(station.path());
    const auto repaired = zt::TableFiles(station.path());
    QVERIFY(repaired != original);

    const zt::ConsoleResult undo = zt::RunConsole(station.path(), {"--undo", "latest"});
    QVERIFY2(undo.exitCode == 0, qPrintable(undo.err));
    const auto undone = zt::TableFiles(station.path());
    QVERIFY2(undone == original, qPrintable(zt::Differences(original, undone)));
    const QJsonObject own = zt::ReadJson(ReportLine(undo.out));
    QCOMPARE(own["kind"].toString(), "undo");

    // The run's files have changed since: a second undo of it is refused and touches nothing.
    const zt::ConsoleResult twice = zt::RunConsole(station.path(), {"--undo", runReport});
    QCOMPARE(twice.exitCode, 3);
    QVERIFY2(twice.err.contains("changed since"), qPrintable(twice.err));
    QCOMPARE(zt::TableFiles(station.path()), undone);

    const zt::ConsoleResult redo = zt::RunConsole(station.path(), {"--undo", ReportLine(undo.out)});
    QVERIFY2(redo.exitCode == 0, qPrintable(redo.err));
    const auto redone = zt::TableFiles(station.path());
    QVERIFY2(redone == repaired, qPrintable(zt::Differences(repaired, redone)));
  }

  // A table changed since the run stops the undo before any table is touched, and names it.
  void undoStopsAtATableChangedSince() {
    QTemporaryDir station;
    QCOMPARE(
        zt::BuildDemoStation(station.path(), {"db-header", "db-header:PERMDATA/ATTEND"}, kScale),
        QString());
    QCOMPARE(zt::RunConsole(station.path(), {"--yes", "--simulate-power-off"}).exitCode, 0);
    // The till records a sale in the new empty table.
    const std::string f = "TEMPDATA", t = "PUMPSALE";
    zt::WriteTable(station.path(), f, t,
                   {Record{std::int64_t{1}, std::int64_t{1}, std::int64_t{1}, std::int64_t{1}, 1.0,
                           1.0, 1.0, std::int64_t{1}, std::monostate{}, std::int64_t{0}}});
    const auto before = zt::TableFiles(station.path());
    const zt::ConsoleResult undo = zt::RunConsole(station.path(), {"--undo", "latest"});
    QCOMPARE(undo.exitCode, 3);
    QVERIFY2(undo.err.contains("TEMPDATA\\PUMPSALE changed since"), qPrintable(undo.err));
    QCOMPARE(zt::TableFiles(station.path()), before);
  }

  // A table another process has open (as Wine keeps a Windows program's files) is left as it
  // is and named with its holder; once it is free the put-back goes ahead.
  void putBackLeavesAHeldTableAlone() {
    QTemporaryDir station;
    QCOMPARE(zt::BuildDemoStation(station.path(), {"db-header"}, kScale), QString());
    QCOMPARE(zt::RunConsole(station.path(), {"--yes", "--simulate-power-off"}).exitCode, 0);
    const auto before = zt::TableFiles(station.path());
    {
      zel::test::LockingChild holder(zt::TablePath(station.path(), "TEMPDATA", "PUMPSALE").string(),
                                     zel::test::LockingChild::Kind::Open);
      QVERIFY(holder.Locked());
      const zt::ConsoleResult held = zt::RunConsole(station.path(), {"--put-back", "latest"});
      QCOMPARE(held.exitCode, 1);
      QVERIFY2(held.err.contains("PUMPSALE.DB is in use by"), qPrintable(held.err));
      QCOMPARE(zt::TableFiles(station.path()), before);
    }
    const zt::ConsoleResult freed = zt::RunConsole(station.path(), {"--put-back", "latest"});
    QVERIFY2(freed.exitCode == 0, qPrintable(freed.err));
    QVERIFY(!zt::SortedRecords(zt::TablePath(station.path(), "TEMPDATA", "PUMPSALE")).empty());
  }

  void refusals_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("no run yet") << QStringList{"--put-back", "latest"} << 3
                                << "names a run that replaced or restored a table";
    QTest::newRow("missing report") << QStringList{"--undo", "/nonexistent/report.json"} << 3
                                    << "/nonexistent/report.json cannot be read";
    QTest::newRow("no RUN") << QStringList{"--put-back"} << 64 << "needs RUN";
    QTest::newRow("master without put-back") << QStringList{"--undo", "latest", "--master", "X"}
                                             << 64 << "--master goes with --put-back only";
    QTest::newRow("foreign option")
        << QStringList{"--undo", "latest", "--yes"} << 64 << "does not go with";
  }

  void refusals() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QTemporaryDir station;
    QCOMPARE(zt::BuildDemoStation(station.path(), {}, 1), QString());
    const auto before = zt::TableFiles(station.path());
    const zt::ConsoleResult result = zt::RunConsole(station.path(), arguments);
    QCOMPARE(result.exitCode, status);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QCOMPARE(zt::TableFiles(station.path()), before);
  }
};

QTEST_GUILESS_MAIN(PutBackTest)
#include "tst_put_back.moc"
