// Every sample table made by Borland engines, opened through the table object under its primary
// index and under each secondary index by name: the healthy ones open, the known anomalies fail
// with the expected class of error. Needs the samples (tests/support/Samples.h); skipped without.
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "tests/engine/EngineFixtures.h"

using namespace zel::engine;
namespace ec = zel::engine::ErrorCode;

class EngineSamplesTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir prefix_;
  int row_ = 0;

  // Opens `db` (host path under drive_c) through tbl1-style calls; 0 when usable, else the code.
  int OpenCode(const QString& db, const QString& index, QString* message = nullptr) {
    const QString driveC = prefix_.path() + "/drive_c";
    QString windows = db.mid(driveC.size());
    windows.chop(QFileInfo(db).suffix().size() + 1);
    windows = "C:" + windows.replace('/', '\\');
    Table table;
    table.SetDatabaseName("TEMPDATA");
    table.SetTableName(windows.toStdString());
    table.SetIndexName(index.toStdString());
    int code = 0;
    try {
      table.Open();
    } catch (const EngineError& e) {
      code = e.Code();
      if (message) *message = QString::fromStdString(e.what());
    }
    table.Close();
    return code;
  }

  QString Folder() {
    const QString dir = prefix_.path() + "/drive_c/T/" + QString::number(++row_);
    QDir().mkpath(dir);
    return dir;
  }

 private slots:
  void initTestCase() {
    QVERIFY(prefix_.isValid());
    qputenv("WINEPREFIX", prefix_.path().toLocal8Bit());
    QVERIFY(QDir().mkpath(prefix_.path() + "/drive_c"));
  }
  void cleanupTestCase() { Session::Default().Close(); }

  void samples_data() {
    QTest::addColumn<QString>("table");  // sample path without extension
    QTest::addColumn<QString>("index");
    QTest::addColumn<int>("expected");  // 0: usable
    QTest::addColumn<QString>("why");

    const auto ok = [](const char* t, const char* idx, const char* why) {
      QTest::newRow(qPrintable(QString(t) + (*idx ? QString(" [") + idx + "]" : QString())))
          << QString(t) << QString(idx) << 0 << QString(why);
    };
    const auto bad = [](const char* t, const char* idx, int code, const char* why) {
      QTest::newRow(qPrintable(QString(t) + (*idx ? QString(" [") + idx + "]" : QString())))
          << QString(t) << QString(idx) << code << QString(why);
    };
    // Healthy heaps and keyed tables, levels 3.0 to 7.
    ok("paradoxdriver/areas/AREACODE", "", "level 3.0 heap, 1 KiB blocks, odd header size");
    ok("paradoxdriver/areas/ZIPCODES", "",
       "686 blocks, two-level .PX with its root in block 3, file 1 KiB short with every record "
       "present; pxlib misreads this .PX (it assumes the root is block 1), the tree is sound");
    ok("paradoxdriver/db/AREACODE", "", ".PX 1 KiB shorter than its block, entries all present");
    ok("paradoxdriver/db/CONTACTS", "", "level 7 heap");
    ok("paradoxdriver/db/DECIMAL", "", "heap");
    ok("paradoxdriver/db/ORDERS", "", "keyed, 8 blocks, stamps in step");
    ok("paradoxdriver/db/ROMAN8", "", "sort order BLROM800");
    for (const char* f :
         {"bcd", "bytes", "date35", "date4", "date5", "date7", "logical", "time", "timestamp"}) {
      const QByteArray t = QByteArray("paradoxdriver/fields/") + f;
      ok(t.constData(), "", "one field type per table");
    }
    for (const char* f : {"fmemo", "graphic", "graphic240", "long", "memo", "ole"}) {
      const QByteArray t = QByteArray("paradoxdriver/fields/") + f;
      ok(t.constData(), "", "keyed, BLOB fields with their .MB");
    }
    ok("paradoxdriver/geog/County", "", "16 KiB blocks, full blocks from a rebuild");
    ok("paradoxdriver/geog/tblAC", "", "keyed");
    ok("paradoxdriver/geog/tblsttes", "", "keyed");
    for (const char* t :
         {"case", "destination", "fk1", "fk2", "fk3", "fk4", "indexed", "joina", "joinb",
          "multiple", "origin", "paradox-ascii", "primary", "to_multiple", "two"}) {
      const QByteArray p = QByteArray("paradoxdriver/joins/") + t;
      ok(p.constData(), "", "level 4/5 tables, most with .VAL files in step");
    }
    ok("paradoxdriver/joins/fk1", "FK", "single-field index .X02 by field name");
    ok("paradoxdriver/joins/fk2", "fk", "field name matched without regard to case");
    ok("paradoxdriver/joins/fk3", "FK2", ".X03");
    ok("paradoxdriver/joins/multiple", "FK", "first of two indexes");
    ok("paradoxdriver/joins/multiple", "fk2", "second of two indexes");
    ok("paradoxdriver/joins/to_multiple", "FK", "empty index of an empty table");
    for (const char* t : {"BOLDNESS", "GREYS", "LPI", "PAGESIZE", "PATTERNS", "PCL", "RASRES",
                          "SOURCES", "SYMBOLS", "TYPEFACE"}) {
      const QByteArray p = QByteArray("paradoxreader-java/PCLDATA/") + t;
      ok(p.constData(), "", "level 3.0 heaps");
    }
    ok("rparadox/empty", "", "no records, header-only .MB");
    ok("rparadox/mushrooms", "", "level 7 heap with BLOBs");
    ok("rparadox/of", "", "level 3.5, 314 blocks");
    ok("rparadox/of_cp866", "", "level 4, code page 866, sort order cyrr");

    // Anomalies named where the samples come from.
    bad("paradoxdriver/areas/STATES", "", ec::FileDoesNotExist, "keyed table without its .PX");
    bad("rparadox/TypSammlung", "", ec::FileDoesNotExist, "keyed table without its .PX");
    bad("paradoxreader-java/MEMBRE", "", ec::BlobFileMissing,
        "keyed, no .PX, and BLOB fields without a .MB: the BLOB file is checked first");
    bad("paradoxdriver/geog/tblZCode", "", ec::TableDoesNotExist,
        "index files present without their table");
    bad("paradoxdriver/joins/case", "C", ec::IndexOutOfDate,
        "non-maintained index with 0 entries for a 1-record table");
    // Encrypted tables: the engine has no password, as the Borland engine without one.
    for (const char* t :
         {"paradoxdriver/encrypt/encrypted", "paradoxdriver/encrypt/encrypted35",
          "paradoxdriver/encrypt/encryptedmemo", "rparadox/encrypted/TypSammlung_encrypted",
          "rparadox/encrypted/country_encrypted", "rparadox/encrypted/empty_encrypted"}) {
      bad(t, "", ec::TableEncrypted, "encrypted; no password");
    }
    // Index stamps ahead of the data file's change counter (PX 0x2C vs DB 0x2D, Y 0x2C vs X 0x2D):
    // Borland's engine keeps them so across edits (CUSTOMER's two states both sit 19 ahead).
    for (const char* t :
         {"paradoxdriver/db/AREACODES", "paradoxdriver/db/CUSTOMER", "paradoxdriver/db/GENERAL",
          "paradoxdriver/db/HERCULES", "paradoxdriver/db/SERVER", "paradoxdriver/joins/A",
          "paradoxdriver/joins/B", "paradoxdriver/joins/C", "paradoxreader-java/CUSTOMER",
          "paradoxreader-java/HERCULES"}) {
      ok(t, "", "primary index stamp ahead of the table's counter, as Borland left it");
    }
    ok("paradoxdriver/db/CUSTOMER", "City", "single-field index; tree stamp ahead as well");
    ok("paradoxdriver/joins/indexed", "Descending",
       "non-maintained named index whose tree stamp is ahead of its data file");
    // Stamps behind the counter: the table changed after its index was last written.
    for (const char* t : {"python-pxlib/KOMMENT", "python-pxlib/LAND"}) {
      bad(t, "", ec::IndexOutOfDate, "primary index stamp 23 behind the table's counter");
    }
    bad("paradoxdriver/joins/fk4", "reference", ec::IndexOutOfDate,
        "named index made for definition 133, table at 132");
    bad("paradoxdriver/joins/fk4", "nosuch", ec::IndexDoesNotExist, "no index of that name");
  }

  void samples() {
    QFETCH(QString, table);
    QFETCH(QString, index);
    QFETCH(int, expected);
    QFETCH(QString, why);
    ZEL_NEED_SAMPLE(table, "verdicts on Borland-made tables");
    const QString db = enginetest::CopyTable(table, Folder());
    QString message;
    const int code = OpenCode(db, index, &message);
    QVERIFY2(code == expected, qPrintable(QString("expected 0x%1, got 0x%2 (%3); why: %4")
                                              .arg(expected, 0, 16)
                                              .arg(code, 0, 16)
                                              .arg(message, why)));
    if (code != 0) QVERIFY2(message.contains(QFileInfo(db).path()), "message names the file");
  }

  // With their stamps brought into step, the stale samples' populated indexes are sound.
  void restamped_data() {
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("index");
    QTest::newRow("CUSTOMER primary") << "CUSTOMER"
                                      << "";
    QTest::newRow("CUSTOMER City") << "CUSTOMER"
                                   << "city";
    QTest::newRow("C A") << "C"
                         << "A";
    QTest::newRow("C B") << "C"
                         << "b";
  }
  void restamped() {
    QFETCH(QString, which);
    QFETCH(QString, index);
    ZEL_NEED_SAMPLE(which == "C" ? "paradoxdriver/joins/C" : "paradoxdriver/db/CUSTOMER",
                    "verdicts on Borland-made tables");
    const QString dir = Folder();
    const QString db =
        which == "C" ? enginetest::RestampedC(dir) : enginetest::RestampedCustomer(dir);
    QString message;
    QCOMPARE(OpenCode(db, index, &message), 0);
  }
};

QTEST_GUILESS_MAIN(EngineSamplesTest)
#include "tst_engine_samples.moc"
