// Salvage of damaged tables: every record outside the damage comes back byte for byte, none is
// invented, records outside the chain are kept apart, and the new table is sound to the engine
// and to pxlib.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "engine/EngineError.h"
#include "engine/RecordEncoding.h"
#include "engine/Salvage.h"
#include "engine/SalvageFields.h"
#include "engine/TableWriter.h"
#include "engine/Verifier.h"
#include "tests/salvage/SalvageFixtures.h"

using namespace zel::engine;
using namespace enginetest;
using namespace salvagetest;

namespace {

constexpr int kBlockNext = 0;
constexpr int kBlockPrev = 2;
constexpr int kBlockAdd = 4;

QString MakeFixture(const QString& which, const QString& dir) {
  if (which == "orders") return MadeOrders(dir);
  if (which == "heap") return MadeHeap(dir);
  return CopyTable("paradoxdriver/db/ORDERS", dir);
}

// A table with one field of each kind the checks look at; 60 records in one 2 KiB block... or
// more, whatever the writer chooses.
TableDef KindsDef() {
  TableDef def;
  def.level = 7;
  def.keyFieldCount = 1;
  def.fields = {{"Id", FieldType::LongInt, 0},      {"Name", FieldType::Alpha, 10},
                {"Day", FieldType::Date, 0},        {"At", FieldType::Time, 0},
                {"Stamp", FieldType::Timestamp, 0}, {"Flag", FieldType::Logical, 0},
                {"Amount", FieldType::Number, 0},   {"Seq", FieldType::AutoInc, 0}};
  return def;
}

QString MakeKinds(const QString& dir) {
  std::vector<Record> records;
  for (int i = 0; i < 60; ++i) {
    records.push_back({std::int64_t{i + 1}, "n" + std::to_string(i), made::Day(i),
                       std::int64_t{i * 1000}, record::TimestampFrom(made::Day(i), 5000),
                       std::int64_t{i % 2}, i * 1.5, std::int64_t{i + 1}});
  }
  return made::Create(dir, "KINDS.DB", KindsDef(), records);
}

}  // namespace

class TestSalvage : public QObject {
  Q_OBJECT

 private slots:
  void damage_data();
  void damage();
  void headerDestroyedNeedsTemplate();
  void emptyTable();
  void deletedRecordsInFreeBlocks_data();
  void deletedRecordsInFreeBlocks();
  void duplicateKeysKeepTheFirst();
  void undecodableFieldsAreDropped_data();
  void undecodableFieldsAreDropped();
  void blobPointers_data();
  void blobPointers();
  void blobTableIsWritten();
  void memoTableAfterAWreckedBlock_data();
  void memoTableAfterAWreckedBlock();
  void neverOverwrites_data();
  void neverOverwrites();
  void nothingReadableWritesNothing();
  void damagedFilesAreOnlyRead();
  void repeatedKeyInIntactChain();
  void hostileFilesWithTemplate_data();
  void hostileFilesWithTemplate();
};

void TestSalvage::damage_data() {
  QTest::addColumn<QString>("fixture");
  QTest::addColumn<QString>("damage");
  for (const char* fixture : {"orders", "heap", "sample"}) {
    for (const char* damage :
         {"block overwritten", "block zeroed", "chain broken after block 1", "header destroyed",
          "block count lies", "record count lies", "truncated"}) {
      QTest::addRow("%s: %s", fixture, damage) << QString(fixture) << QString(damage);
    }
  }
}

// Each damage loses only the records of the block it hits; the rest come back byte for byte.
void TestSalvage::damage() {
  QFETCH(QString, fixture);
  QFETCH(QString, damage);
  if (fixture == "sample")
    ZEL_NEED_SAMPLE("paradoxdriver/db/ORDERS", "salvage of Borland's ORDERS");
  QTemporaryDir tmp;
  const QString db = MakeFixture(fixture, tmp.path());
  const px::Header h = HeaderOf(db);
  QVERIFY(h.fileBlocks >= 6);
  const QByteArray healthy = Read(db);
  const QList<QByteArray> original = ChainRecords(db);
  QList<QByteArray> expected = original;  // what must come back
  SalvageOptions options;

  auto lose = [&](const QList<QByteArray>& records) {
    for (const auto& r : records) expected.removeOne(r);
  };
  if (damage == "block overwritten" || damage == "block zeroed") {
    lose(BlockRecords(healthy, h, 3));
    FillBlock(db, 3, damage == "block zeroed" ? '\0' : '\xA5');
  } else if (damage == "chain broken after block 1") {
    PokeU16(db, BlockOffset(h, 1) + kBlockNext, 0);
  } else if (damage == "header destroyed") {
    QByteArray b = Read(db);
    for (int i = 0; i < h.headerSize; ++i) b[i] = '\0';
    Write(db, b);
    QDir().mkpath(tmp.path() + "/backup");
    Write(tmp.path() + "/backup/TEMPLATE.DB", healthy);
    options.like = (tmp.path() + "/backup/TEMPLATE.DB").toStdString();
  } else if (damage == "block count lies") {
    PokeU16(db, px::off::UsedBlocks, 3);
    PokeU16(db, px::off::FileBlocks, 4);
    PokeU16(db, px::off::LastBlock, 2);
  } else if (damage == "record count lies") {
    PokeU16(db, px::off::NumRecords, 40);
  } else if (damage == "truncated") {
    // Cut inside block 6: its first 10 records stay whole.
    for (int b = 6; b <= h.fileBlocks; ++b) lose(BlockRecords(healthy, h, b));
    expected += BlockRecords(healthy, h, 6).mid(0, 10);
    Truncate(db, BlockOffset(h, 6) + 6 + 10 * h.recordSize + 5);
  }

  const QString out = tmp.path() + "/NEW.DB";
  const SalvageReport r = SalvageTable(db.toStdString(), out.toStdString(), options);
  QVERIFY(r.tableWritten);
  const QList<QByteArray> salvaged = ChainRecords(out);
  QVERIFY2(SubBag(salvaged, original), "a salvaged record is not in the original table");
  QVERIFY2(SubBag(expected, salvaged), "a record outside the damage did not come back");
  QCOMPARE(r.recovered, static_cast<std::uint64_t>(salvaged.size()));
  QCOMPARE(CsvRows(QString::fromStdString(r.csv.string())).size(), salvaged.size());
  QCOMPARE(r.outsideChain, 0u);
  QCOMPARE(r.duplicated, 0u);
  if (damage.startsWith("block ") && damage != "block count lies") QVERIFY(r.unreadableBlocks >= 1);
  if (damage == "header destroyed") QVERIFY(!r.headerReadable);
  // The new table is sound to the engine and to an independent reader.
  VerifyTable(out.toStdString(), "");
  QCOMPARE(PxlibRecordCount(out), salvaged.size());
}

void TestSalvage::headerDestroyedNeedsTemplate() {
  QTemporaryDir tmp;
  const QString db = MadeOrders(tmp.path());
  QByteArray b = Read(db);
  for (int i = 0; i < 0x78; ++i) b[i] = '\x33';
  Write(db, b);
  try {
    SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
    QFAIL("salvage without a structure succeeded");
  } catch (const EngineError& e) {
    QCOMPARE(e.Code(), SalvageErrorCode::NoStructure);
    QCOMPARE(QString::fromStdString(e.File()), db);
  }
  QVERIFY(!QFile::exists(tmp.path() + "/NEW.DB"));
  // A template of the same kind that is empty (its block size may differ) serves too.
  QDir().mkpath(tmp.path() + "/t");
  TableDef def;
  def.level = 7;
  def.codePage = 437;
  def.keyFieldCount = 1;
  def.fields = {{"Order No", FieldType::Number, 0},   {"Customer No", FieldType::Number, 0},
                {"Sale Date", FieldType::Date, 0},    {"Ship Date", FieldType::Date, 0},
                {"Ship VIA", FieldType::Alpha, 7},    {"Total Invoice", FieldType::Money, 0},
                {"Amount Paid", FieldType::Money, 0}, {"Balance Due", FieldType::Money, 0},
                {"Terms", FieldType::Alpha, 6},       {"Payment Method", FieldType::Alpha, 7},
                {"Month", FieldType::Alpha, 3}};
  CreateTable((tmp.path() + "/t/EMPTY.DB").toStdString(), def);
  SalvageOptions o;
  o.like = (tmp.path() + "/t/EMPTY.DB").toStdString();
  const SalvageReport r = SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString(), o);
  QCOMPARE(r.recovered, 224u);
  QVERIFY(!r.headerProblem.empty());
}

void TestSalvage::emptyTable() {
  QTemporaryDir tmp;
  TableDef def;
  def.keyFieldCount = 1;
  def.fields = {{"Id", FieldType::LongInt, 0}, {"Name", FieldType::Alpha, 20}};
  const QString db = tmp.path() + "/EMPTY.DB";
  CreateTable(db.toStdString(), def);
  const SalvageReport r = SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
  QVERIFY(!r.hadRecords);
  QVERIFY(r.chainIntact);
  QVERIFY(r.tableWritten);
  QCOMPARE(r.recovered, 0u);
  QCOMPARE(r.unreadableBlocks, 0u);
  VerifyTable((tmp.path() + "/NEW.DB").toStdString(), "");
  QCOMPARE(Read(tmp.path() + "/NEW.csv"), QByteArray("Id,Name\r\n"));
  QVERIFY(!QFile::exists(tmp.path() + "/NEW.outside.csv"));
}

void TestSalvage::deletedRecordsInFreeBlocks_data() {
  QTest::addColumn<bool>("chainBroken");
  QTest::newRow("chain intact") << false;
  QTest::newRow("chain broken after block 1") << true;
}

// Block 8 was freed with its records still in it, as deletions leave it: those records are
// voided data, kept in the outside file and never put back into the table.
void TestSalvage::deletedRecordsInFreeBlocks() {
  QFETCH(bool, chainBroken);
  QTemporaryDir tmp;
  const QString db = MadeOrders(tmp.path());
  const px::Header h = HeaderOf(db);
  const QByteArray healthy = Read(db);
  const QList<QByteArray> deleted = BlockRecords(healthy, h, 8);
  QCOMPARE(deleted.size(), 28);
  PokeU16(db, px::off::NumRecords, 224 - 28);
  PokeU16(db, px::off::UsedBlocks, 7);
  PokeU16(db, px::off::LastBlock, 7);
  PokeU16(db, px::off::FirstFreeBlock, 8);
  PokeU16(db, BlockOffset(h, 7) + kBlockNext, 0);
  PokeU16(db, BlockOffset(h, 8) + kBlockNext, 0);
  PokeU16(db, BlockOffset(h, 8) + kBlockPrev, 0);
  PokeU16(db, BlockOffset(h, 8) + kBlockAdd, static_cast<quint16>(-h.recordSize));
  const QList<QByteArray> live = ChainRecords(db);
  VerifyDataFile(db.toStdString());
  if (chainBroken) PokeU16(db, BlockOffset(h, 1) + kBlockNext, 0);

  const QString out = tmp.path() + "/NEW.DB";
  const SalvageReport r = SalvageTable(db.toStdString(), out.toStdString());
  QCOMPARE(r.chainIntact, !chainBroken);
  QCOMPARE(r.recovered, 196u);
  QCOMPARE(ChainRecords(out), live);
  QCOMPARE(r.outsideChain, 28u);
  QCOMPARE(QString::fromStdString(r.outsideCsv.string()), tmp.path() + "/NEW.outside.csv");
  QCOMPARE(CsvRows(tmp.path() + "/NEW.outside.csv").size(), 28);
  QCOMPARE(CsvRows(tmp.path() + "/NEW.outside.csv").first().first(), "1197");
}

// With the header and block 1 gone, every block is found by position; an old copy of block 5
// at the end of the file repeats its keys, and the first in key order stays.
void TestSalvage::duplicateKeysKeepTheFirst() {
  QTemporaryDir tmp;
  const QString db = MadeOrders(tmp.path());
  const px::Header h = HeaderOf(db);
  Write(tmp.path() + "/TEMPLATE.DB", Read(db));
  FillBlock(db, 1, '\x5A');
  QByteArray b = Read(db);
  b.append(b.mid(BlockOffset(h, 5), static_cast<int>(h.BlockSize())));
  for (int i = 0; i < h.headerSize; ++i) b[i] = '\0';
  Write(db, b);
  SalvageOptions o;
  o.like = (tmp.path() + "/TEMPLATE.DB").toStdString();
  const SalvageReport r = SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString(), o);
  QCOMPARE(r.recovered, 196u);
  QCOMPARE(r.duplicated, 28u);
  QCOMPARE(r.unreadableBlocks, 1u);
  VerifyTable((tmp.path() + "/NEW.DB").toStdString(), "");
}

// One rule with the deep check (engine/FieldValues.h): a record whose field cannot hold its bytes
// is dropped; one holding what Borland's own tables hold comes back, value for value.
void TestSalvage::undecodableFieldsAreDropped_data() {
  QTest::addColumn<int>("field");
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<bool>("dropped");
  QTest::addColumn<QByteArray>("written");  // the field's bytes in the new table; empty: `bytes`
  auto sortableLong = [](std::int64_t v) {
    QByteArray b(4, '\0');
    record::PutSortableLong(reinterpret_cast<std::uint8_t*>(b.data()), v);
    return b;
  };
  auto sortableDouble = [](double v) {
    QByteArray b(8, '\0');
    record::PutSortableDouble(reinterpret_cast<std::uint8_t*>(b.data()), v);
    return b;
  };
  QCOMPARE(salvage::LastDay(), record::DateFromYmd(9999, 12, 31));
  // Dropped: bytes no value of the type has.
  QTest::newRow("date past 9999") << 2 << sortableLong(salvage::LastDay() + 1) << true
                                  << QByteArray();
  QTest::newRow("date before 9999 BC")
      << 2 << sortableLong(-salvage::LastDay() - 1) << true << QByteArray();
  QTest::newRow("time of a whole day") << 3 << sortableLong(86400000) << true << QByteArray();
  QTest::newRow("time negative") << 3 << sortableLong(-1) << true << QByteArray();
  QTest::newRow("timestamp not finite") << 4 << sortableDouble(INFINITY) << true << QByteArray();
  QTest::newRow("logical 0x82") << 5 << QByteArray("\x82", 1) << true << QByteArray();
  QTest::newRow("logical 0x01") << 5 << QByteArray("\x01", 1) << true << QByteArray();
  QTest::newRow("number NaN") << 6 << sortableDouble(NAN) << true << QByteArray();
  QTest::newRow("number infinite") << 6 << sortableDouble(-INFINITY) << true << QByteArray();
  QTest::newRow("autoincrement 0") << 7 << sortableLong(0) << true << QByteArray();
  // Kept: Borland's engine leaves an earlier, longer value's bytes after an alpha value's zero
  // (the value ends at the zero, and is written so); Borland's TypSammlung.DB holds day -366.
  QTest::newRow("alpha bytes after the end")
      << 1 << QByteArray("ab\0xy", 5) << false << QByteArray("ab\0\0\0", 5);
  QTest::newRow("date 0, 31 December 1 BC") << 2 << sortableLong(0) << false << QByteArray();
  QTest::newRow("date negative") << 2 << sortableLong(-366) << false << QByteArray();
  QTest::newRow("timestamp before 1 AD") << 4 << sortableDouble(-1000.0) << false << QByteArray();
  // A blank autoincrement value is one still to be handed out: the record is kept, and the
  // writer hands it the next number.
  QTest::newRow("autoincrement blank") << 7 << QByteArray(4, '\0') << false << sortableLong(61);
}

void TestSalvage::undecodableFieldsAreDropped() {
  QFETCH(int, field);
  QFETCH(QByteArray, bytes);
  QFETCH(bool, dropped);
  QFETCH(QByteArray, written);
  QTemporaryDir tmp;
  const QString db = MakeKinds(tmp.path());
  const px::Header h = HeaderOf(db);
  const QList<QByteArray> original = ChainRecords(db);
  const int inRecord = static_cast<int>(h.fields[field].offset);
  const int at = BlockOffset(h, 1) + 6 + 3 * h.recordSize + inRecord;
  QByteArray file = Read(db);
  file.replace(at, bytes.size(), bytes);
  Write(db, file);
  const SalvageReport r = SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
  QVERIFY(r.chainIntact);
  QCOMPARE(r.dropped, dropped ? 1u : 0u);
  QCOMPARE(r.recovered, dropped ? 59u : 60u);
  QList<QByteArray> expected = original;
  if (dropped) {
    expected.removeAt(3);
  } else {
    expected[3].replace(inRecord, bytes.size(), written.isEmpty() ? bytes : written);
  }
  QCOMPARE(ChainRecords(tmp.path() + "/NEW.DB"), expected);
}

void TestSalvage::blobPointers_data() {
  QTest::addColumn<quint32>("offset");
  QTest::addColumn<quint32>("length");
  QTest::addColumn<quint64>("mbSize");
  QTest::addColumn<bool>("ok");
  QTest::newRow("blank") << 0u << 0u << quint64(8192) << true;
  QTest::newRow("all in the leader") << 0u << 8u << quint64(8192) << true;
  QTest::newRow("longer than the leader, no pointer") << 0u << 50u << quint64(8192) << false;
  QTest::newRow("slot in a sub-allocated block") << 0x1003u << 50u << quint64(8192) << true;
  QTest::newRow("own block") << 0x10FFu << 50u << quint64(8192) << true;
  QTest::newRow("not on a 4 KiB block") << 0x1803u << 50u << quint64(8192) << false;
  QTest::newRow("slot past 63") << 0x1040u << 50u << quint64(8192) << false;
  QTest::newRow("block past the .MB") << 0x2003u << 50u << quint64(8192) << false;
  QTest::newRow("own block running past the .MB") << 0x10FFu << 9000u << quint64(8192) << false;
  QTest::newRow("pointer without a length") << 0x1003u << 0u << quint64(8192) << false;
  QTest::newRow("no .MB: only its own consistency") << 0x7000FFu << 50u << quint64(0) << true;
}

void TestSalvage::blobPointers() {
  QFETCH(quint32, offset);
  QFETCH(quint32, length);
  QFETCH(quint64, mbSize);
  QFETCH(bool, ok);
  px::Field f;
  f.code = px::FieldCode::Memo;
  f.sizeByte = 20;
  f.bytes = 20;
  std::uint8_t rec[20] = {};
  px::PutLe32(rec + 10, offset);
  px::PutLe32(rec + 14, length);
  salvage::BlobFileFacts mb;
  mb.size = mbSize;
  QCOMPARE(salvage::FieldProblem(f, rec, mb) == nullptr, ok);
}

// Borland's CUSTOMER has a memo field (values in a sub-block and in a block of their own) and
// a non-ascii sort order: salvage writes a table with its .MB, and pxlib reads every value of
// it as it reads the sample's.
void TestSalvage::blobTableIsWritten() {
  ZEL_NEED_SAMPLE("paradoxdriver/db/CUSTOMER", "salvage of a table with BLOB fields");
  QTemporaryDir tmp;
  const QString db = CopyTable("paradoxdriver/db/CUSTOMER", tmp.path());
  const SalvageReport r = SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
  QVERIFY2(r.tableWritten, r.csvOnlyReason.c_str());
  QVERIFY(r.csvOnlyReason.empty());
  QCOMPARE(r.recovered, 20u);
  QCOMPARE(r.blobsUnreadable, 0u);
  QCOMPARE(CsvRows(tmp.path() + "/NEW.csv").size(), 20);
  const PxlibView theirs = PxlibRead(db, Beside(db, ".MB"));
  const PxlibView ours = PxlibRead(tmp.path() + "/NEW.DB", tmp.path() + "/NEW.MB");
  QVERIFY2(theirs.error.isEmpty() && ours.error.isEmpty(), qPrintable(theirs.error + ours.error));
  QCOMPARE(ours.fields, theirs.fields);
  QCOMPARE(ours.rows, theirs.rows);
  try {
    VerifyTable((tmp.path() + "/NEW.DB").toStdString(), "");
  } catch (const EngineError& e) {
    QFAIL(e.what());
  }
}

// A memo table made by the writer, values in the leader, in sub-blocks and in blocks of their
// own. A wrecked data block loses its records only; every other record comes back with its
// whole memo. A wrecked .MB block loses the values it held: their records come back with the
// leader they kept, and the report counts them.
void TestSalvage::memoTableAfterAWreckedBlock_data() {
  QTest::addColumn<bool>("wreckMb");
  QTest::newRow("data block wrecked") << false;
  QTest::newRow(".MB block wrecked") << true;
}

void TestSalvage::memoTableAfterAWreckedBlock() {
  QFETCH(bool, wreckMb);
  QTemporaryDir tmp;
  TableDef def;
  def.level = 7;
  def.keyFieldCount = 1;
  def.fields = {{"ID", FieldType::LongInt, 0},
                {"Note", FieldType::Memo, 60},
                {"Name", FieldType::Alpha, 200}};
  std::vector<Record> rows;
  for (int i = 1; i <= 120; ++i) {
    std::string note;
    if (i % 3 == 1) note = "short note " + std::to_string(i);                       // in the leader
    if (i % 3 == 2) note = std::string(300 + i, static_cast<char>('a' + i % 26));   // sub-block
    if (i % 3 == 0) note = std::string(5000 + i, static_cast<char>('A' + i % 26));  // own block
    rows.push_back({std::int64_t{i}, note, "name " + std::to_string(i)});
  }
  const QString db = tmp.path() + "/MEMO.DB";
  CreateTable(db.toStdString(), def, rows);
  const PxlibView before = PxlibRead(db, tmp.path() + "/MEMO.MB");
  QVERIFY2(before.error.isEmpty(), qPrintable(before.error));
  QCOMPARE(before.rows.size(), 120);

  QStringList expected = before.rows;
  int lostValues = 0;
  if (wreckMb) {
    // The second block of the .MB: the first sub-block's values (records 2, 5, 8, ...).
    QByteArray mb = Read(tmp.path() + "/MEMO.MB");
    QVERIFY(mb[4096] == 3);
    mb.replace(4096, 4096, QByteArray(4096, '\x5A'));
    Write(tmp.path() + "/MEMO.MB", mb);
    for (QString& row : expected) {
      const int id = row.section('|', 0, 0).toInt();
      const int len = row.section('|', 1, 1).section(':', 0, 0).toInt();
      if (id % 3 != 2 || len == 0) continue;
      // A value of the wrecked sub-block keeps the 50 bytes the leader holds.
      const QString hex = row.section('|', 1, 1).section(':', 1).left(100);
      row = row.section('|', 0, 0) + "|50:" + hex + '|' + row.section('|', 2);
      ++lostValues;
    }
  } else {
    const px::Header h = HeaderOf(db);
    QVERIFY(h.usedBlocks >= 3);
    const QList<QByteArray> lost = BlockRecords(Read(db), h, 2);
    FillBlock(db, 2, '\x3C');
    for (const QByteArray& rec : lost) {
      const int id = static_cast<int>(
          record::GetSortableLong(reinterpret_cast<const std::uint8_t*>(rec.constData())));
      expected.removeIf([&](const QString& r) { return r.section('|', 0, 0).toInt() == id; });
    }
    QVERIFY(expected.size() < 120);
  }
  const SalvageReport r = SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
  QVERIFY2(r.tableWritten, r.csvOnlyReason.c_str());
  const PxlibView after = PxlibRead(tmp.path() + "/NEW.DB", tmp.path() + "/NEW.MB");
  QVERIFY2(after.error.isEmpty(), qPrintable(after.error));
  if (wreckMb) {
    // The values the wrecked sub-block held (the first sub-block values, records 2, 5, 8, ...)
    // are down to their leader; no other value changed.
    QVERIFY(r.blobsUnreadable > 0);
    QCOMPARE(after.rows.size(), 120);
    int shortened = 0;
    for (qsizetype i = 0; i < after.rows.size(); ++i) {
      if (after.rows[i] == before.rows[i]) continue;
      QCOMPARE(after.rows[i], expected[i]);
      ++shortened;
    }
    QCOMPARE(static_cast<std::uint64_t>(shortened), r.blobsUnreadable);
    QVERIFY(shortened <= lostValues);
  } else {
    QCOMPARE(r.blobsUnreadable, 0u);
    QCOMPARE(after.rows, expected);
  }
}

void TestSalvage::neverOverwrites_data() {
  QTest::addColumn<QString>("existing");
  QTest::newRow("NEW.DB") << "NEW.DB";
  QTest::newRow("new.db in another case") << "new.db";
  QTest::newRow("NEW.PX") << "NEW.PX";
  QTest::newRow("NEW.MB") << "NEW.MB";  // a table with BLOB fields would write one
  QTest::newRow("NEW.csv") << "NEW.csv";
  QTest::newRow("NEW.outside.csv") << "NEW.outside.csv";
}

void TestSalvage::neverOverwrites() {
  QFETCH(QString, existing);
  QTemporaryDir tmp;
  const QString db = MadeOrders(tmp.path());
  Write(tmp.path() + "/" + existing, "keep me");
  try {
    SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
    QFAIL("an existing output was overwritten");
  } catch (const EngineError& e) {
    QCOMPARE(e.Code(), SalvageErrorCode::OutputExists);
  }
  QCOMPARE(Read(tmp.path() + "/" + existing), QByteArray("keep me"));
  QCOMPARE(QDir(tmp.path()).entryList(QDir::Files).size(), 3);  // ORDERS.DB, .PX, the file
}

// A table whose every block is wrecked: nothing is written, and the report says it had records.
void TestSalvage::nothingReadableWritesNothing() {
  QTemporaryDir tmp;
  const QString db = MadeOrders(tmp.path());
  for (int b = 1; b <= 8; ++b) FillBlock(db, b, '\xEE');
  const SalvageReport r = SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
  QVERIFY(r.hadRecords);
  QCOMPARE(r.recovered, 0u);
  QCOMPARE(r.unreadableBlocks, 8u);
  QVERIFY(!QFile::exists(tmp.path() + "/NEW.DB"));
  QVERIFY(!QFile::exists(tmp.path() + "/NEW.csv"));
}

void TestSalvage::damagedFilesAreOnlyRead() {
  QTemporaryDir tmp;
  const QString db = MadeOrders(tmp.path());
  FillBlock(db, 2, '\x11');
  QFile::setPermissions(db, QFile::ReadOwner);
  QFile::setPermissions(Beside(db, ".PX"), QFile::ReadOwner);
  const QByteArray before = Read(db);
  const SalvageReport r = SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
  QCOMPARE(r.recovered, 196u);
  QCOMPARE(Read(db), before);
}

// The chain is whole, but a record of block 2 repeats the key (and bytes) of the one before it:
// the repeat is counted as duplicated, every other record comes back.
void TestSalvage::repeatedKeyInIntactChain() {
  QTemporaryDir tmp;
  const QString db = MadeOrders(tmp.path());
  const px::Header h = HeaderOf(db);
  QList<QByteArray> expected = ChainRecords(db);
  QByteArray file = Read(db);
  const int first = BlockOffset(h, 2) + 6;
  expected.removeOne(file.mid(first + h.recordSize, h.recordSize));
  file.replace(first + h.recordSize, h.recordSize, file.mid(first, h.recordSize));
  Write(db, file);
  const SalvageReport r = SalvageTable(db.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
  QVERIFY(r.chainIntact);
  QCOMPARE(r.duplicated, 1u);
  QCOMPARE(r.recovered, 223u);
  QCOMPARE(ChainRecords(tmp.path() + "/NEW.DB"), expected);
}

void TestSalvage::hostileFilesWithTemplate_data() {
  QTest::addColumn<QByteArray>("bytes");
  QByteArray noise(64 * 1024, '\0');
  std::uint32_t x = 12345;
  for (auto& c : noise) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  QTest::newRow("empty file") << QByteArray();
  QTest::newRow("shorter than a header") << QByteArray(100, '\x7F');
  QTest::newRow("random bytes") << noise;
  QByteArray links(16 * 1024, '\0');
  for (int at = 0; at + 6 <= links.size(); at += 512) {
    links[at] = '\x01';      // every 512 bytes a block header linking to block 1
    links[at + 4] = '\x00';  // one record
  }
  QTest::newRow("block headers everywhere") << links;
}

// Files that are no table at all, salvaged under a template: no crash, nothing invented.
void TestSalvage::hostileFilesWithTemplate() {
  QFETCH(QByteArray, bytes);
  QTemporaryDir tmp;
  const QString like = MadeOrders(tmp.path());
  Write(tmp.path() + "/HOSTILE.DB", bytes);
  SalvageOptions o;
  o.like = like.toStdString();
  const SalvageReport r = SalvageTable((tmp.path() + "/HOSTILE.DB").toStdString(),
                                       (tmp.path() + "/NEW.DB").toStdString(), o);
  QCOMPARE(r.recovered, 0u);
  QCOMPARE(r.outsideChain, 0u);
  QVERIFY(!r.headerReadable);
}

QTEST_GUILESS_MAIN(TestSalvage)
#include "tst_salvage.moc"
