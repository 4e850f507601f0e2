// Damage matrix: one kind of damage per row on a copy of a sound table, the error the verifier
// must report, and the files left exactly as they were. Each row runs on a table made by the
// project's writer with the shape of the Borland sample it was first written against, and on
// that Borland-made table as well when the samples are there. Rows on files the writer cannot
// make (BLOB .MB files, .VAL files) run on the samples only.
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include "engine/EngineError.h"
#include "engine/Verifier.h"
#include "tests/engine/EngineFixtures.h"

using namespace zel::engine;
using namespace enginetest;
namespace ec = zel::engine::ErrorCode;

namespace {

// ORDERS.DB: header 2048 bytes, 2 KiB blocks, 8 full blocks of 28 records of 71 bytes, key
// "Order No" (N, 8 bytes). ORDERS.PX: one leaf block of 8 entries of 14 bytes.
constexpr int kHeader = 2048;
constexpr int kBlock = 2048;
constexpr int kRecord = 71;
constexpr int kPxEntry = 14;
int BlockAt(int k) {
  return kHeader + (k - 1) * kBlock;
}
int RecordAt(int k, int i) {
  return BlockAt(k) + 6 + i * kRecord;
}
int PxEntryAt(int i) {
  return kHeader + 6 + i * kPxEntry;
}

int U16(const QByteArray& b, int at) {
  return quint8(b[at]) | (quint8(b[at + 1]) << 8);
}

void SwapBytes(const QString& file, int a, int b, int len) {
  QByteArray bytes = Read(file);
  const QByteArray first = bytes.mid(a, len);
  bytes.replace(a, len, bytes.mid(b, len));
  bytes.replace(b, len, first);
  Write(file, bytes);
}

void CopyBytes(const QString& file, int from, int to, int len) {
  QByteArray bytes = Read(file);
  bytes.replace(to, len, bytes.mid(from, len));
  Write(file, bytes);
}

QMap<QString, QByteArray> Snapshot(const QString& dir) {
  QMap<QString, QByteArray> out;
  for (const QString& name : QDir(dir).entryList(QDir::Files)) {
    out[name] = QCryptographicHash::hash(Read(dir + "/" + name), QCryptographicHash::Sha256);
  }
  return out;
}

// The Borland sample each base of the matrix stands for.
QString SampleOf(const QString& base) {
  if (base == "ORDERS") return "paradoxdriver/db/ORDERS";
  if (base == "AREACODE3") return "paradoxdriver/areas/AREACODE";
  if (base == "C") return "paradoxdriver/joins/C";
  if (base == "CUSTOMER") return "paradoxdriver/db/CUSTOMER";
  if (base == "MEMO") return "paradoxdriver/fields/memo";
  if (base == "FK1") return "paradoxdriver/joins/fk1";
  return {};
}

// MEMO and FK1 need .MB and .VAL files, which the project does not write.
bool MadeByProject(const QString& base) {
  return base != "MEMO" && base != "FK1";
}

// The sound table of `base` in `dir`: the project's own, or the Borland sample.
QString MakeBase(const QString& base, bool borland, const QString& dir) {
  if (!borland) {
    if (base == "ORDERS") return MadeOrders(dir);
    if (base == "AREACODE3") return MadeHeap(dir);
    if (base == "C") return MadeC(dir);
    if (base == "CUSTOMER") return MadeCustomer(dir);
    return {};
  }
  if (base == "C") return RestampedC(dir);
  if (base == "CUSTOMER") return RestampedCustomer(dir);
  return CopyTable(SampleOf(base), dir);
}

void Damage(const QString& d, const QString& db) {
  const QString px = Beside(db, ".PX");
  if (d == "DB missing") QFile::remove(db);
  if (d == "DB empty file") Truncate(db, 0);
  if (d == "DB cut inside the fixed header") Truncate(db, 40);
  if (d == "DB cut inside the field list") Truncate(db, 0x80);
  if (d == "DB cut to its header") Truncate(db, kHeader);
  if (d == "DB cut inside block 4") Truncate(db, BlockAt(4) + 100);
  if (d == "file type 9") PokeByte(db, 0x04, 9);
  if (d == "file type of an index") PokeByte(db, 0x04, 1);
  if (d == "version 2") PokeByte(db, 0x39, 2);
  if (d == "block size code 0") PokeByte(db, 0x05, 0);
  if (d == "record size off by one") PokeU16(db, 0x00, kRecord - 1);
  if (d == "field count 200") PokeU16(db, 0x21, 200);
  if (d == "more key fields than fields") PokeU16(db, 0x23, 12);
  if (d == "unknown field type") PokeByte(db, 0x78, 0x30);
  if (d == "sort byte against its name") PokeByte(db, 0x29, 0x62);
  if (d == "record count plus one") PokeU16(db, 0x06, 225);
  if (d == "used blocks minus one") PokeU16(db, 0x0A, 7);
  if (d == "wrong last block") PokeU16(db, 0x10, 7);
  if (d == "chain loops back") PokeU16(db, BlockAt(3), 2);
  if (d == "block links to itself") PokeU16(db, BlockAt(1), 1);
  if (d == "link beyond the file") PokeU16(db, BlockAt(2), 999);
  if (d == "wrong back link") PokeU16(db, BlockAt(2) + 2, 5);
  if (d == "block size field not a record multiple") PokeU16(db, BlockAt(1) + 4, 27 * kRecord + 3);
  if (d == "block claims more records than fit") PokeU16(db, BlockAt(1) + 4, 40 * kRecord);
  if (d == "keys out of order") SwapBytes(db, RecordAt(4, 2), RecordAt(4, 3), kRecord);
  if (d == "duplicate key") CopyBytes(db, RecordAt(2, 5), RecordAt(2, 6), kRecord);
  if (d == "flagged for rebuild") PokeByte(db, 0x14, 1);
  if (d == "PX missing") QFile::remove(px);
  if (d == "PX cut inside its header") Truncate(px, 100);
  if (d == "PX of the wrong file type") PokeByte(px, 0x04, 0);
  if (d == "PX stamp behind") PokeByte(px, 0x2C, PeekByte(px, 0x2C) - 1);
  if (d == "PX entry count") PokeByte(px, PxEntryAt(2) + 11, 27);
  if (d == "PX entry block") PokeByte(px, PxEntryAt(2) + 9, 7);
  if (d == "PX entry key") PokeByte(px, PxEntryAt(3) + 7, PeekByte(px, PxEntryAt(3) + 7) ^ 1);
  if (d == "PX lacks the last block") {
    PokeU16(px, kHeader + 4, 6 * kPxEntry);
    PokeU16(px, 0x06, 7);
  }
  if (d == "PX root past its blocks") PokeU16(px, 0x1E, 5);
  // Heaps: the header size and block size come from the table (Borland's AREACODE is level
  // 3.0 with a 234-byte header and 1 KiB blocks, the project's 2 KiB each); both have over 21
  // blocks.
  if (d == "heap chain loops" || d == "heap cut short") {
    const QByteArray h = Read(db);
    const int header = U16(h, 0x02), block = quint8(h[0x05]) * 1024;
    if (d == "heap chain loops") PokeU16(db, header + block * 4, 2);
    if (d == "heap cut short") Truncate(db, header + block * 20 + 10);
  }
  if (d == "X missing") QFile::remove(Beside(db, ".X02"));
  if (d == "Y missing") QFile::remove(Beside(db, ".Y02"));
  if (d == "X header damaged") PokeByte(Beside(db, ".X02"), 0x04, 9);
  if (d == "X made for another definition") {
    const QString x = Beside(db, ".X02");
    PokeByte(x, 0x2E, PeekByte(x, 0x2E) + 1);
  }
  if (d == "X built on another primary index") {
    const QString x = Beside(db, ".X02");
    PokeByte(x, 0x2F, PeekByte(x, 0x2F) + 1);
  }
  if (d == "Y stamp behind") {
    const QString y = Beside(db, ".Y02");
    PokeByte(y, 0x2C, PeekByte(y, 0x2C) - 1);
  }
  if (d == "X record count") PokeU16(Beside(db, ".X02"), 0x06, 2);
  // CUSTOMER.Y06: header 2048, entries of 25 bytes (key 19); statistic at +21.
  if (d == "Y entry count") PokeByte(Beside(db, ".Y06"), 2048 + 6 + 19 + 3, 3);
  if (d == "X block chain beyond the file") PokeU16(Beside(db, ".X06"), 0x0C, 0);
  if (d == "MB missing") QFile::remove(Beside(db, ".MB"));
  if (d == "MB damaged") Truncate(Beside(db, ".MB"), 100);
  if (d == "VAL out of date") {
    const QString val = Beside(db, ".VAL");
    PokeByte(val, 0, PeekByte(val, 0) + 1);
  }
  if (d == "VAL cut") Truncate(Beside(db, ".VAL"), 3);
}

}  // namespace

class EngineDamageTest : public QObject {
  Q_OBJECT

 private slots:
  void damage_data() {
    QTest::addColumn<QString>("base");  // ORDERS, AREACODE3, C, CUSTOMER, MEMO, FK1
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("expected");

    const auto row = [](const char* name, const char* base, const char* index, int code) {
      QTest::newRow(name) << QString(base) << QString(index) << QString(name) << code;
    };
    row("sound", "ORDERS", "", 0);
    row("DB missing", "ORDERS", "", ec::TableDoesNotExist);
    row("DB empty file", "ORDERS", "", ec::CorruptHeader);
    row("DB cut inside the fixed header", "ORDERS", "", ec::CorruptHeader);
    row("DB cut inside the field list", "ORDERS", "", ec::CorruptHeader);
    row("DB cut to its header", "ORDERS", "", ec::CorruptFile);
    row("DB cut inside block 4", "ORDERS", "", ec::CorruptFile);
    row("file type 9", "ORDERS", "", ec::CorruptHeader);
    row("file type of an index", "ORDERS", "", ec::CorruptHeader);
    row("version 2", "ORDERS", "", ec::CorruptHeader);
    row("block size code 0", "ORDERS", "", ec::CorruptHeader);
    row("record size off by one", "ORDERS", "", ec::CorruptHeader);
    row("field count 200", "ORDERS", "", ec::CorruptHeader);
    row("more key fields than fields", "ORDERS", "", ec::CorruptHeader);
    row("unknown field type", "ORDERS", "", ec::CorruptHeader);
    row("sort byte against its name", "ORDERS", "", ec::CorruptHeader);
    row("record count plus one", "ORDERS", "", ec::CorruptFile);
    row("used blocks minus one", "ORDERS", "", ec::CorruptFile);
    row("wrong last block", "ORDERS", "", ec::CorruptFile);
    row("chain loops back", "ORDERS", "", ec::CorruptFile);
    row("block links to itself", "ORDERS", "", ec::CorruptFile);
    row("link beyond the file", "ORDERS", "", ec::CorruptFile);
    row("wrong back link", "ORDERS", "", ec::CorruptFile);
    row("block size field not a record multiple", "ORDERS", "", ec::CorruptFile);
    row("block claims more records than fit", "ORDERS", "", ec::CorruptFile);
    row("keys out of order", "ORDERS", "", ec::CorruptFile);
    row("duplicate key", "ORDERS", "", ec::CorruptFile);
    row("flagged for rebuild", "ORDERS", "", ec::IndexOutOfDate);
    row("PX missing", "ORDERS", "", ec::FileDoesNotExist);
    row("PX cut inside its header", "ORDERS", "", ec::CorruptHeader);
    row("PX of the wrong file type", "ORDERS", "", ec::CorruptHeader);
    row("PX stamp behind", "ORDERS", "", ec::IndexOutOfDate);
    row("PX entry count", "ORDERS", "", ec::CorruptIndex);
    row("PX entry block", "ORDERS", "", ec::CorruptIndex);
    row("PX entry key", "ORDERS", "", ec::CorruptIndex);
    row("PX lacks the last block", "ORDERS", "", ec::CorruptIndex);
    row("PX root past its blocks", "ORDERS", "", ec::CorruptIndex);
    row("heap chain loops", "AREACODE3", "", ec::CorruptFile);
    row("heap cut short", "AREACODE3", "", ec::CorruptFile);
    row("sound secondary", "C", "A", 0);
    row("X missing", "C", "A", ec::IndexDoesNotExist);
    row("Y missing", "C", "A", ec::FileDoesNotExist);
    row("X header damaged", "C", "A", ec::CorruptHeader);
    row("X made for another definition", "C", "A", ec::IndexOutOfDate);
    row("X built on another primary index", "C", "A", ec::IndexOutOfDate);
    row("Y stamp behind", "C", "A", ec::IndexOutOfDate);
    row("X record count", "C", "A", ec::CorruptIndex);
    row("index name unknown", "C", "ZZ", ec::IndexDoesNotExist);
    row("Y entry count", "CUSTOMER", "City", ec::CorruptIndex);
    row("X block chain beyond the file", "CUSTOMER", "City", ec::CorruptIndex);
    row("MB missing", "MEMO", "", ec::BlobFileMissing);
    row("MB damaged", "MEMO", "", ec::CorruptBlobFile);
    row("VAL out of date", "FK1", "", ec::ValOutOfDate);
    row("VAL cut", "FK1", "", ec::CorruptValFile);
  }

  void damage() {
    QFETCH(QString, base);
    QFETCH(QString, index);
    QFETCH(QString, damage);
    QFETCH(int, expected);
    const QString sample = SampleOf(base);
    QList<bool> borlandRuns;  // false: the project's table, true: Borland's
    if (MadeByProject(base)) {
      borlandRuns << false;
      ZEL_OPTIONAL_SAMPLE(haveSample, sample);
      if (haveSample) borlandRuns << true;
    } else {
      ZEL_NEED_SAMPLE(sample,
                      "damage rows on Borland's tables with .MB or .VAL files (the project "
                      "writes neither)");
      borlandRuns << true;
    }
    for (const bool borland : borlandRuns) {
      const QString on = borland ? "Borland's " + sample : "the project-made " + base;
      QTemporaryDir dir;
      QVERIFY(dir.isValid());
      const QString db = MakeBase(base, borland, dir.path());
      QVERIFY(!db.isEmpty());
      Damage(damage, db);

      const auto before = Snapshot(dir.path());
      int code = 0;
      QString message;
      try {
        VerifyTable(db.toStdString(), index.toStdString());
      } catch (const EngineError& e) {
        code = e.Code();
        message = QString::fromStdString(e.what());
      }
      QVERIFY2(code == expected, qPrintable(QString("on %1: expected 0x%2, got 0x%3: %4")
                                                .arg(on)
                                                .arg(expected, 0, 16)
                                                .arg(code, 0, 16)
                                                .arg(message)));
      if (code != 0) {
        QVERIFY2(message.contains(dir.path()),
                 qPrintable("on " + on + ", names no file: " + message));
      }
      QVERIFY2(Snapshot(dir.path()) == before, qPrintable("verification wrote on " + on));
    }
  }

  // The project-made tables have the layout the matrix's offsets are written for.
  void madeTablesHaveTheSamplesLayout() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray orders = Read(MadeOrders(dir.path()));
    QCOMPARE(U16(orders, 0x00), kRecord);
    QCOMPARE(U16(orders, 0x02), kHeader);
    QCOMPARE(int(orders[0x05]) * 1024, kBlock);
    QCOMPARE(U16(orders, 0x06), 224);
    QCOMPARE(U16(orders, 0x0A), 8);
    QCOMPARE(U16(orders, 0x21), 11);
    QCOMPARE(orders.size(), kHeader + 8 * kBlock);
    const QByteArray px = Read(dir.path() + "/ORDERS.PX");
    QCOMPARE(U16(px, 0x00), kPxEntry);
    QCOMPARE(U16(px, 0x02), kHeader);
    QCOMPARE(U16(px, 0x06), 8);
    QCOMPARE(U16(px, kHeader + 4), 7 * kPxEntry);
    const QByteArray heap = Read(MadeHeap(dir.path()));
    QCOMPARE(int(heap[0x04]), 2);  // a data file without a key
    QVERIFY(U16(heap, 0x0A) > 21);
    MadeC(dir.path());
    QCOMPARE(U16(Read(dir.path() + "/C.X02"), 0x06), 3);
    QVERIFY(QFile::exists(dir.path() + "/C.Y02"));
    MadeCustomer(dir.path());
    const QByteArray y06 = Read(dir.path() + "/CUSTOMER.Y06");
    QCOMPARE(U16(y06, 0x00), 25);
    QCOMPARE(U16(y06, 0x06), 1);
    QCOMPARE(U16(Read(dir.path() + "/CUSTOMER.X06"), 0x06), 20);
  }
};

QTEST_GUILESS_MAIN(EngineDamageTest)
#include "tst_engine_damage.moc"
