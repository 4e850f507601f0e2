// The deep check on damaged copies of sound tables: one kind of damage per row, the problem it
// must report (code, file, block, record, words of the text), and the files left exactly as they
// were. Rows run on tables the project's writer makes; the BLOB and .VAL rows run on Borland's
// samples, as the writer makes neither file (skipped without the samples). Beside them: the
// writer's tables are clean, the problem limit, the batched search for faulty index entries.
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/DeepCheck.h"
#include "engine/EngineError.h"
#include "engine/RecordEncoding.h"
#include "tests/deepcheck/DeepCheckFixtures.h"

using namespace zel::engine;
using namespace enginetest;
using namespace deeptest;
namespace ec = zel::engine::ErrorCode;

namespace {

// A level 7 table with the field types the other fixtures lack, keyed on Id, with an index on
// Note: 10 records in one block.
QString MadeTypes(const QString& dir) {
  using namespace made;
  TableDef def;
  def.level = 7;
  def.keyFieldCount = 1;
  def.fields = {{"Id", FieldType::LongInt, 0},   {"Flag", FieldType::Logical, 0},
                {"At", FieldType::Time, 0},      {"Stamp", FieldType::Timestamp, 0},
                {"Amount", FieldType::Money, 0}, {"Note", FieldType::Alpha, 10},
                {"Day", FieldType::Date, 0},     {"Count", FieldType::Short, 0}};
  def.indexes = {{"Note", {"Note"}, false, false}};
  std::vector<Record> records;
  for (int i = 1; i <= 10; ++i) {
    records.push_back({std::int64_t{i}, std::int64_t{i % 2}, std::int64_t{i * 3600000},
                       record::TimestampFrom(Day(i), i * 1000), i * 1.5,
                       "note " + std::to_string(i), Day(i), std::int64_t{-i}});
  }
  return Create(dir, "TYPES.DB", def, records);
}

// A keyed table with an index and no records.
QString MadeEmpty(const QString& dir) {
  using namespace made;
  TableDef def;
  def.level = 5;
  def.keyFieldCount = 1;
  def.fields = {{"Id", FieldType::LongInt, 0}, {"Name", FieldType::Alpha, 12}};
  def.indexes = {{"ByName", {"Name"}, true, false}};
  return Create(dir, "EMPTY.DB", def, {});
}

// A keyed table with a case-insensitive named index on Name whose entries are folded to upper
// case, as Borland's engine stores them for the ascii sort order: in Borland-made tables the
// record's "Divers-for-Hire" has the entry "DIVERS-FOR-HIRE", "Montegiordano" has
// "MONTEGIORDANO". Written with the upper-case names (so the writer's entries hold them), then
// the records' names patched to the case the station typed. With `beyondAscii`, one name also
// has a lower-case letter of Windows-1252 ("\xE9cole", entry "\xC9COLE"): whether the ascii
// sort order folds those is not established.
QString MadeFolded(const QString& dir, bool beyondAscii) {
  using namespace made;
  TableDef def;
  def.level = 7;
  def.keyFieldCount = 1;
  def.fields = {{"Id", FieldType::LongInt, 0}, {"Name", FieldType::Alpha, 20}};
  def.indexes = {{"ByName", {"Name"}, true, false}};
  const std::vector<std::pair<std::string, std::string>> names = {
      {"DIVERS-FOR-HIRE", "Divers-for-Hire"},
      {"MONTEGIORDANO", "Montegiordano"},
      {"\xC9"
       "COLE",
       beyondAscii ? "\xE9"
                     "cole"
                   : "\xC9"
                     "cole"},
      {"ZED", "ZED"}};
  std::vector<Record> records;
  for (std::size_t i = 0; i < names.size(); ++i)
    records.push_back({std::int64_t(i + 1), names[i].first});
  const QString db = Create(dir, beyondAscii ? "LATIN.DB" : "FOLDED.DB", def, records);
  const auto h = HeaderOf(db);
  for (std::size_t i = 0; i < names.size(); ++i)
    PutBytes(db, RecordAt(h, 1, static_cast<int>(i)) + FieldOffset(h, "Name"),
             QByteArray::fromStdString(names[i].second));
  return db;
}

QString MakeBase(const QString& base, const QString& dir) {
  if (base == "FOLDED") return MadeFolded(dir, false);
  if (base == "FOLDED LATIN") return MadeFolded(dir, true);
  if (base == "ORDERS") return MadeOrders(dir);
  if (base == "CUSTOMER") return MadeCustomer(dir);
  if (base == "C") return MadeC(dir);
  if (base == "FK4") return MadeFk4(dir);
  if (base == "TYPES") return MadeTypes(dir);
  if (base == "HEAP") return MadeHeap(dir);
  if (base == "EMPTY") return MadeEmpty(dir);
  if (base == "FK1") return MadeFk1(dir);
  // Borland's tables, for the BLOB and .VAL rows.
  if (base == "CUSTOMER sample") return RestampedCustomer(dir);
  if (base == "fk1 sample") return CopyTable("paradoxdriver/joins/fk1", dir);
  return {};
}

QString SampleOf(const QString& base) {
  if (base == "CUSTOMER sample") return "paradoxdriver/db/CUSTOMER";
  if (base == "fk1 sample") return "paradoxdriver/joins/fk1";
  return {};
}

QByteArray SortableDouble(double v) {
  QByteArray b(8, 0);
  record::PutSortableDouble(reinterpret_cast<std::uint8_t*>(b.data()), v);
  return b;
}

QByteArray SortableLong(std::int64_t v) {
  QByteArray b(4, 0);
  record::PutSortableLong(reinterpret_cast<std::uint8_t*>(b.data()), v);
  return b;
}

// The descriptor (last 10 bytes) of the Comments memo of CUSTOMER record `index` of block 1.
int CommentsDescriptor(const QString& db, int index) {
  const auto h = HeaderOf(db);
  return RecordAt(h, 1, index) + FieldOffset(h, "Comments") + FieldBytes(h, "Comments") - 10;
}

void Damage(const QString& d, const QString& db) {
  const auto h = HeaderOf(db);
  const auto field = [&](int block, int index, const char* name) {
    return RecordAt(h, block, index) + FieldOffset(h, name);
  };
  // Writer-made: field values.
  if (d == "date out of range") PutBytes(db, field(2, 2, "Sale Date"), QByteArray(4, '\xFF'));
  if (d == "case-insensitive entry without its record") {
    const QString x = Beside(db, ".XG0");
    PokeByte(x, RecordAt(HeaderOf(x), 1, 0), 'Q');  // DIVERS-FOR-HIRE -> QIVERS-FOR-HIRE
  }
  if (d == "case-insensitive record without its entry") PokeByte(db, field(1, 1, "Name"), 'N');
  if (d == "money that is not a number")
    PutBytes(db, field(3, 3, "Total Invoice"),
             SortableDouble(std::numeric_limits<double>::quiet_NaN()));
  if (d == "logical value 2") PutBytes(db, field(1, 4, "Flag"), QByteArray(1, '\x82'));
  if (d == "time past midnight") PutBytes(db, field(1, 5, "At"), SortableLong(86400000));
  if (d == "infinite timestamp")
    PutBytes(db, field(1, 6, "Stamp"), SortableDouble(std::numeric_limits<double>::infinity()));
  if (d == "autoincrement above the header's") PutLe32(db, 0x49, 5);
  if (d == "autoincrement below 1") PutBytes(db, field(1, 0, "CustNo"), SortableLong(0));
  // Writer-made: header figures.
  if (d == "more blocks than the header counts") PokeU16(db, 0x0C, 7);
  if (d == "header counts blocks past the end") PokeU16(db, 0x0C, 9);
  if (d == "chain not starting at block 1") PokeU16(db, 0x0E, 2);
  if (d == "encryption mark of a plain table") PutLe32(db, 0x25, 0);
  if (d == "version words against the version") PokeU16(db, 0x58, 0x010B);
  if (d == "field type the level lacks") PokeByte(db, 0x39, 0x09);
  if (d == "record count against the chain") PutLe32(db, 0x06, 225);
  // Writer-made: secondary index entries.
  if (d == "entry for a deleted record") DeleteRecord(db, 2, 1);  // CustNo 7
  if (d == "entry whose values changed") {
    const QString x = Beside(db, ".X06");
    const auto xh = HeaderOf(x);
    PokeByte(x, RecordAt(xh, 1, 0), 'Q');
  }
  if (d == "record whose indexed value changed") PokeByte(db, field(1, 0, "City"), 'Q');
  if (d == "second entry for a record") {
    const QString x = Beside(db, ".X02");
    const auto xh = HeaderOf(x);
    const QByteArray bytes = Read(x);
    PutBytes(x, RecordAt(xh, 1, 1), bytes.mid(RecordAt(xh, 1, 0), xh.recordSize));
  }
  if (d == "named index entry off by one") {
    const QString x = Beside(db, ".XG0");
    const auto xh = HeaderOf(x);
    PutBytes(x, RecordAt(xh, 1, 1) + 4, SortableLong(99));  // FK of the second entry
  }
  // Borland's CUSTOMER: record 4 of block 1 points at a 14-unit type 2 block at 8192 (ends at
  // 65536); record 2 at slot 0x3F of the type 3 block at 4096, 518 bytes.
  if (d == "truncated .MB" || d == "truncated .MB, the pointer into the cut block")
    Truncate(Beside(db, ".MB"), 20000);
  if (d == "BLOB pointer past the end of the .MB")
    PutLe32(db, CommentsDescriptor(db, 1), 0x0010003F);
  if (d == "BLOB length against its slot") PutLe32(db, CommentsDescriptor(db, 1) + 4, 519);
  if (d == "BLOB modification number") PokeU16(db, CommentsDescriptor(db, 1) + 8, 7);
  if (d == "BLOB slot in a single-BLOB block") PutLe32(db, CommentsDescriptor(db, 1), 0x203F);
  if (d == "BLOB longer than its leader without a block") PutLe32(db, CommentsDescriptor(db, 1), 0);
  if (d == ".MB block of an unknown type") PokeByte(Beside(db, ".MB"), 4096, 9);
  // Borland's fk1: .VAL of 636 bytes, footer at 537 (2 fields: Long, Autoincrement).
  if (d == ".VAL footer outside the file") PutLe32(Beside(db, ".VAL"), 0x09, 100000);
  if (d == ".VAL field list against the table") PokeByte(Beside(db, ".VAL"), 537 + 6 + 4, 0x01);
  if (d == ".VAL names cut short") {
    const QString val = Beside(db, ".VAL");
    Truncate(val, Read(val).size() - 1);
  }
  if (d == ".VAL made for another version") PokeByte(Beside(db, ".VAL"), 1, 0x0C);
}

QMap<QString, QByteArray> Snapshot(const QString& dir) {
  QMap<QString, QByteArray> out;
  for (const QString& name : QDir(dir).entryList(QDir::Files))
    out[name] = QCryptographicHash::hash(Read(dir + "/" + name), QCryptographicHash::Sha256);
  return out;
}

QString Listing(const DeepCheckResult& r) {
  QString out;
  for (const DeepProblem& p : r.problems) out += "\n  " + QString::fromStdString(p.Describe());
  return out.isEmpty() ? QString("\n  (no problem)") : out;
}

bool Matches(const DeepProblem& p, int code, const QString& ext, int block, int record,
             const QStringList& words) {
  if (p.code != code) return false;
  if (!QString::fromStdString(p.file).endsWith(ext, Qt::CaseInsensitive)) return false;
  if (block >= 0 && static_cast<int>(p.block) != block) return false;
  if (record >= 0 && static_cast<int>(p.record) != record) return false;
  const QString text = QString::fromStdString(p.text);
  return std::all_of(words.begin(), words.end(),
                     [&](const QString& w) { return text.contains(w); });
}

}  // namespace

class DeepCheckTest : public QObject {
  Q_OBJECT

 private slots:
  void writerMadeTablesAreClean_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("entries");
    QTest::newRow("keyed, 8 blocks") << "ORDERS" << 224 << 0;
    QTest::newRow("heap, 32 blocks") << "HEAP" << 600 << 0;
    QTest::newRow("two single-field indexes") << "C" << 3 << 6;
    QTest::newRow("autoincrement key, index on text") << "CUSTOMER" << 20 << 20;
    QTest::newRow("named two-field index") << "FK4" << 2 << 2;
    QTest::newRow("level 5, code page 850") << "FK1" << 2 << 2;
    QTest::newRow("logical, time, timestamp, money") << "TYPES" << 10 << 10;
    QTest::newRow("empty, with a case-insensitive index") << "EMPTY" << 0 << 0;
  }
  void writerMadeTablesAreClean() {
    QFETCH(QString, base);
    QFETCH(int, records);
    QFETCH(int, entries);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MakeBase(base, dir.path());
    const DeepCheckResult r = DeepCheckTable(db.toStdString());
    QVERIFY2(r.Clean(), qPrintable("problems on the writer's " + base + Listing(r)));
    QVERIFY(!r.limitReached);
    QCOMPARE(r.records, quint64(records));
    QCOMPARE(r.indexEntries, quint64(entries));
  }

  void damage_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("file");  // extension of the file named
    QTest::addColumn<int>("block");     // -1: any
    QTest::addColumn<int>("record");    // -1: any
    QTest::addColumn<QStringList>("words");
    const auto row = [](const char* damage, const char* base, int code, const char* file, int block,
                        int record, const QStringList& words) {
      QTest::newRow(damage) << QString(base) << QString(damage) << code << QString(file) << block
                            << record << words;
    };
    // Field values: the records the open never decodes.
    row("date out of range", "ORDERS", ec::CorruptFile, ".DB", 2, 3,
        {"Sale Date", "is not a date"});
    row("autoincrement below 1", "CUSTOMER", ec::CorruptFile, ".DB", 1, 1,
        {"CustNo", "value 0 is below 1"});
    row("money that is not a number", "ORDERS", ec::CorruptFile, ".DB", 3, 4,
        {"Total Invoice", "not a finite number"});
    row("logical value 2", "TYPES", ec::CorruptFile, ".DB", 1, 5, {"Flag", "not a logical value"});
    row("time past midnight", "TYPES", ec::CorruptFile, ".DB", 1, 6, {"At", "not a time of day"});
    row("infinite timestamp", "TYPES", ec::CorruptFile, ".DB", 1, 7, {"Stamp", "not a timestamp"});
    row("autoincrement above the header's", "CUSTOMER", ec::CorruptHeader, ".DB", 2, 1,
        {"CustNo", "value 6", "handed out (5)"});
    // The header's own figures.
    // Blocks past the counted ones that the chain uses (spare ones are a note, below).
    row("more blocks than the header counts", "ORDERS", ec::CorruptFile, ".DB", -1, -1,
        {"8 blocks in use of 7 in the file"});
    row("header counts blocks past the end", "ORDERS", ec::CorruptHeader, ".DB", 0, 0,
        {"the header counts 9 blocks, the file holds 8"});
    row("chain not starting at block 1", "ORDERS", ec::CorruptHeader, ".DB", 0, 0,
        {"the chain starts at block 2"});
    row("encryption mark of a plain table", "ORDERS", ec::CorruptHeader, ".DB", 0, 0,
        {"encryption field at 0x25", "0xFF00FF00"});
    row("version words against the version", "ORDERS", ec::CorruptHeader, ".DB", 0, 0,
        {"version words", "0x0000010B", "0x0000010C"});
    row("field type the level lacks", "C", ec::CorruptHeader, ".DB", 0, 0,
        {"type I", "level 4 does not have"});
    // The open's own check, found through the verifier.
    row("record count against the chain", "ORDERS", ec::CorruptFile, ".DB", -1, -1,
        {"224 records", "header says 225"});
    // Secondary index entries against the records.
    row("entry for a deleted record", "CUSTOMER", ec::CorruptIndex, ".X06", 1, -1,
        {"\"City\"", "CustNo 7", "has no record"});
    row("entry whose values changed", "CUSTOMER", ec::CorruptIndex, ".X06", 1, 1,
        {"has no record"});
    row("record whose indexed value changed", "CUSTOMER", ec::CorruptIndex, ".DB", 1, 1,
        {"no entry in index \"City\"", "CUSTOMER.X06"});
    row("second entry for a record", "C", ec::CorruptIndex, ".X02", 1, 2,
        {"a second entry", "A 10, C 2"});
    row("named index entry off by one", "FK4", ec::CorruptIndex, ".XG0", 1, 2,
        {"\"reference\"", "FK 99", "has no record"});
    // A case-insensitive index: letters are folded, a real missing entry is still damage.
    row("case-insensitive entry without its record", "FOLDED", ec::CorruptIndex, ".XG0", 1, 1,
        {"\"ByName\"", "QIVERS-FOR-HIRE", "has no record"});
    row("case-insensitive record without its entry", "FOLDED", ec::CorruptIndex, ".DB", 1, 2,
        {"no entry in index \"ByName\""});
    // BLOB pointers against the .MB, and the .MB itself (Borland's tables).
    row("truncated .MB", "CUSTOMER sample", ec::CorruptBlobFile, ".MB", 0, 0,
        {"block at offset 8192", "runs past the end of the file (20000 bytes)"});
    row("truncated .MB, the pointer into the cut block", "CUSTOMER sample",
        DeepErrorCode::BlobModified, ".DB", 1, 4, {"Comments", "do not fit the block or the file"});
    row("BLOB pointer past the end of the .MB", "CUSTOMER sample", DeepErrorCode::BlobModified,
        ".DB", 1, 2, {"Comments", "offset 1048576", "past the end of the .MB (65536 bytes)"});
    row("BLOB length against its slot", "CUSTOMER sample", DeepErrorCode::BlobModified, ".DB", 1, 2,
        {"slot 63", "the record says 519 bytes, the slot 518"});
    row("BLOB modification number", "CUSTOMER sample", DeepErrorCode::BlobModified, ".DB", 1, 2,
        {"modification number 7 in the record, 1 in the slot"});
    row("BLOB slot in a single-BLOB block", "CUSTOMER sample", DeepErrorCode::BlobModified, ".DB",
        1, 2, {"expects a block of small BLOBs (type 3)", "type 2"});
    row("BLOB longer than its leader without a block", "CUSTOMER sample",
        DeepErrorCode::BlobModified, ".DB", 1, 2, {"518 bytes has no block", "leader holds 100"});
    row(".MB block of an unknown type", "CUSTOMER sample", ec::CorruptBlobFile, ".MB", 0, 0,
        {"block at offset 4096 has type 9"});
    // The .VAL's structure (Borland's).
    row(".VAL footer outside the file", "fk1 sample", ec::CorruptValFile, ".VAL", 0, 0,
        {"footer offset 100000"});
    row(".VAL field list against the table", "fk1 sample", ec::CorruptValFile, ".VAL", 0, 0,
        {"footer field 1 has another type or size", "\"ID\""});
    row(".VAL names cut short", "fk1 sample", ec::CorruptValFile, ".VAL", 0, 0,
        {"field names are cut short"});
    row(".VAL made for another version", "fk1 sample", ec::CorruptValFile, ".VAL", 0, 0,
        {"made for table version 12, the table has 11"});
  }
  void damage() {
    QFETCH(QString, base);
    QFETCH(QString, damage);
    QFETCH(int, code);
    QFETCH(QString, file);
    QFETCH(int, block);
    QFETCH(int, record);
    QFETCH(QStringList, words);
    const QString sample = SampleOf(base);
    if (!sample.isEmpty())
      ZEL_NEED_SAMPLE(sample,
                      "BLOB and .VAL rows on Borland's tables (the project writes neither)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MakeBase(base, dir.path());
    QVERIFY(!db.isEmpty());
    {
      const DeepCheckResult sound = DeepCheckTable(db.toStdString());
      QVERIFY2(sound.Clean(),
               qPrintable("the base is not clean before the damage" + Listing(sound)));
    }
    Damage(damage, db);
    const auto before = Snapshot(dir.path());
    const DeepCheckResult r = DeepCheckTable(db.toStdString());
    const bool found = std::any_of(r.problems.begin(), r.problems.end(), [&](const DeepProblem& p) {
      return Matches(p, code, file, block, record, words);
    });
    QVERIFY2(found, qPrintable(QString("expected 0x%1 on %2 block %3 record %4 with \"%5\"; got")
                                   .arg(code, 0, 16)
                                   .arg(file)
                                   .arg(block)
                                   .arg(record)
                                   .arg(words.join("\", \"")) +
                               Listing(r)));
    for (const DeepProblem& p : r.problems) {
      QVERIFY2(QString::fromStdString(p.file).startsWith(dir.path()),
               qPrintable("a problem names no file of the table: " +
                          QString::fromStdString(p.Describe())));
    }
    QVERIFY2(Snapshot(dir.path()) == before, "the deep check wrote to the table's folder");
  }

  // What Borland's engine leaves in tables nobody damaged is no damage: the table stays clean,
  // and what the open accepts with nothing wrong is a note.
  void healthyTablesAreClean_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("noteFile");  // extension of the file of the one note; empty: none
    QTest::addColumn<QStringList>("noteWords");
    QTest::addColumn<int>("entries");
    // The engine leaves the old bytes of a longer earlier value after the zero.
    QTest::newRow("bytes after an alpha value's zero")
        << "ORDERS"
        << "old bytes after Ship VIA's zero" << QString() << QStringList() << 0;
    QTest::newRow("case-insensitive index folded to upper case")
        << "FOLDED"
        << "" << QString() << QStringList() << 4;
    QTest::newRow("letter case beyond what the sort order is known to fold")
        << "FOLDED LATIN"
        << ""
        << ".XG0"
        << QStringList{"\"ByName\"", "letter case", "\"ascii\"", "without regard to letter case"}
        << 4;
    // The file grew by whole units: blocks past the counted ones, nothing refers to them.
    QTest::newRow("spare blocks in a .PX")
        << "ORDERS"
        << "two spare .PX blocks"
        << ".PX" << QStringList{"the file holds 3 blocks", "the header counts 1", "spare blocks"}
        << 0;
    QTest::newRow("spare blocks in a .DB")
        << "ORDERS"
        << "a spare copy of block 8"
        << ".DB" << QStringList{"the file holds 9 blocks", "the header counts 8", "spare blocks"}
        << 0;
    QTest::newRow("unmaintained index, out of date")
        << "C"
        << "unmaintained .X02 missing an entry"
        << ".X02" << QStringList{"Index is out of date", "index holds 2 records, table has 3"} << 5;
  }
  void healthyTablesAreClean() {
    QFETCH(QString, base);
    QFETCH(QString, kind);
    QFETCH(QString, noteFile);
    QFETCH(QStringList, noteWords);
    QFETCH(int, entries);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MakeBase(base, dir.path());
    const auto h = HeaderOf(db);
    if (kind == "old bytes after Ship VIA's zero") {
      for (int i = 0; i < 28; ++i)
        PutBytes(db, RecordAt(h, 1, i) + FieldOffset(h, "Ship VIA") + 6, "xy");
    }
    if (kind == "two spare .PX blocks") {
      const QString px = Beside(db, ".PX");
      Write(px, Read(px) + QByteArray(2 * HeaderOf(px).BlockSize(), '\0'));
    }
    if (kind == "a spare copy of block 8") {
      const QByteArray bytes = Read(db);
      Write(db, bytes + bytes.mid(static_cast<int>(h.BlockOffset(8)), h.BlockSize()));
    }
    if (kind == "unmaintained .X02 missing an entry") {
      // An unmaintained index as Borland's engine leaves it: file type 3, one record short (the
      // table's record added since), brought up to date when the index is next used.
      const QString x = Beside(db, ".X02");
      PokeByte(x, 0x04, 3);
      const auto xh = HeaderOf(x);
      QVERIFY(xh.numRecords == 3);
      DeleteRecord(x, 1, 2);
      // The tree's one entry counts two records now (a sortable short).
      const QString y = Beside(db, ".Y02");
      const auto yh = HeaderOf(y);
      PokeByte(y, RecordAt(yh, 1, 0) + yh.recordSize - 4, 0x80);
      PokeByte(y, RecordAt(yh, 1, 0) + yh.recordSize - 3, 2);
    }
    const DeepCheckResult r = DeepCheckTable(db.toStdString());
    QVERIFY2(r.Clean(), qPrintable("damage reported on a healthy table" + Listing(r)));
    QCOMPARE(r.indexEntries, quint64(entries));
    QString notes;
    for (const DeepProblem& p : r.notes) {
      QCOMPARE(p.severity, DeepSeverity::Note);
      notes += "\n  " + QString::fromStdString(p.Describe());
    }
    if (noteFile.isEmpty()) {
      QVERIFY2(r.notes.empty(), qPrintable("unexpected notes" + notes));
      return;
    }
    const bool found = std::any_of(r.notes.begin(), r.notes.end(), [&](const DeepProblem& p) {
      return Matches(p, p.code, noteFile, -1, -1, noteWords);
    });
    QVERIFY2(found, qPrintable("expected a note on " + noteFile + " with \"" +
                               noteWords.join("\", \"") + "\"; got" + notes));
  }

  // The deep check takes the records from the open's walk; where the open stops at a fault, it
  // reads on by itself: every record is checked once, and the entries are all compared.
  void everyRecordOnceWhereTheOpenStops_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("openFile");  // the file the open's fault names
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("entries");
    QTest::newRow("key out of order in block 2") << "ORDERS"
                                                 << "key"
                                                 << ".DB" << 224 << 0;
    QTest::newRow(".PX entry key of block 3, the data file walked again") << "ORDERS"
                                                                          << "px"
                                                                          << ".PX" << 224 << 0;
    QTest::newRow("index tree against its .X") << "CUSTOMER"
                                               << "y"
                                               << ".Y06" << 20 << 20;
  }
  void everyRecordOnceWhereTheOpenStops() {
    QFETCH(QString, base);
    QFETCH(QString, stop);
    QFETCH(QString, openFile);
    QFETCH(int, records);
    QFETCH(int, entries);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MakeBase(base, dir.path());
    const auto h = HeaderOf(db);
    if (stop == "key") PutBytes(db, RecordAt(h, 2, 1), SortableDouble(0));
    if (stop == "px") {
      const QString px = Beside(db, ".PX");
      // Still between its neighbours, so the tree's order holds, but not block 3's first key:
      // the open stops after walking block 3.
      const QByteArray first = Read(db).mid(RecordAt(h, 3, 0), 8);
      const double key =
          record::GetSortableDouble(reinterpret_cast<const std::uint8_t*>(first.constData()));
      PutBytes(px, RecordAt(HeaderOf(px), 1, 2), SortableDouble(key - 0.5));
    }
    if (stop == "y") {
      const QString y = Beside(db, ".Y06");
      PokeByte(y, RecordAt(HeaderOf(y), 1, 0), 'Q');
    }
    int damagedBlock = 0;
    if (base == "ORDERS") {
      // A field fault after the open's stop, in block 6.
      damagedBlock = 6;
      PutBytes(db, RecordAt(h, 6, 4) + FieldOffset(h, "Sale Date"), QByteArray(4, '\xFF'));
    }
    const DeepCheckResult r = DeepCheckTable(db.toStdString());
    QCOMPARE(r.records, quint64(records));
    QCOMPARE(r.indexEntries, quint64(entries));
    const auto has = [&](const QString& ext, int block) {
      return std::count_if(r.problems.begin(), r.problems.end(), [&](const DeepProblem& p) {
        return QString::fromStdString(p.file).endsWith(ext, Qt::CaseInsensitive) &&
               (block < 0 || int(p.block) == block);
      });
    };
    QVERIFY2(has(openFile, -1) >= 1, qPrintable("the open's fault is missing" + Listing(r)));
    if (damagedBlock) QVERIFY2(has(".DB", damagedBlock) == 1, qPrintable(Listing(r)));
    const bool entryFault = std::any_of(r.problems.begin(), r.problems.end(), [](const auto& p) {
      return p.text.find("entry") != std::string::npos && p.text.find("index \"") == 0;
    });
    QVERIFY2(!entryFault, qPrintable("entries compared wrongly" + Listing(r)));
    QCOMPARE(int(r.problems.size()), damagedBlock ? 2 : 1);
  }

  // Twenty problems at most, and the result says there may be more.
  void stopsAtTheLimit() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MadeOrders(dir.path());
    const auto h = HeaderOf(db);
    for (int block = 1; block <= 2; ++block)
      for (int i = 0; i < 28; ++i)
        PutBytes(db, RecordAt(h, block, i) + FieldOffset(h, "Ship Date"), QByteArray(4, '\x7F'));
    const DeepCheckResult r = DeepCheckTable(db.toStdString());
    QCOMPARE(r.problems.size(), kDeepCheckProblemLimit);
    QVERIFY(r.limitReached);
    QCOMPARE(int(r.problems.front().block), 1);
    QCOMPARE(int(r.problems.front().record), 1);
  }

  // The search for faulty entries in small batches (as a table too big for one would be
  // searched) finds what one batch finds.
  void batchesFindWhatOneBatchFinds() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = MadeCustomer(dir.path());
    DeleteRecord(db, 2, 1);
    PokeByte(db, RecordAt(HeaderOf(db), 1, 0) + FieldOffset(HeaderOf(db), "City"), 'Q');
    const auto describe = [](const DeepCheckResult& r) {
      QStringList out;
      for (const DeepProblem& p : r.problems) out << QString::fromStdString(p.Describe());
      out.sort();
      return out;
    };
    const DeepCheckResult whole = DeepCheckTable(db.toStdString());
    DeepCheckLimits small;
    small.pairsPerBatch = 3;
    const DeepCheckResult batched = DeepCheckTable(db.toStdString(), small);
    QCOMPARE(describe(batched), describe(whole));
    QVERIFY(describe(whole).filter("has no record").size() == 2);  // CustNo 7, CustNo 1's
    QVERIFY(describe(whole).filter("has no entry").size() == 1);   // CustNo 1 with city Q...
  }

  void missingTableIsAnError() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    try {
      DeepCheckTable((dir.path() + "/NONE.DB").toStdString());
      QFAIL("no error for a missing table");
    } catch (const EngineError& e) {
      QCOMPARE(e.Code(), ec::FileDoesNotExist);
      QVERIFY(QString::fromStdString(e.what()).contains("NONE.DB"));
    }
  }
};

QTEST_GUILESS_MAIN(DeepCheckTest)
#include "tst_deepcheck.moc"
