#pragma once
// Small fixtures for the engine tests: tables made by the project's writer with the shapes of
// the Borland samples the tests were first written against, copies of the sample tables
// themselves (when present, tests/support/Samples.h), byte patches, and restamping of the
// sample tables whose index stamps disagree with their data.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtTest>
#include <string>
#include <vector>

#include "engine/RecordEncoding.h"
#include "engine/TableWriter.h"
#include "tests/support/Samples.h"

namespace enginetest {

inline QString SamplePath(const QString& relative) {
  return zel::test::SamplesDir() + "/" + relative;
}

// Copies the files of sample table `relative` (e.g. "paradoxdriver/db/ORDERS") into `dir`
// under the base name `as` (or its own), keeping each extension; returns the new .DB path.
inline QString CopyTable(const QString& relative, const QString& dir, const QString& as = {}) {
  const QFileInfo base(SamplePath(relative));
  const QString stem = base.fileName();
  const QString newStem = as.isEmpty() ? stem : as;
  QString dbPath;
  const QStringList entries =
      QDir(base.path()).entryList({stem + ".*"}, QDir::Files | QDir::CaseSensitive);
  for (const QString& name : entries) {
    const QString ext = name.mid(stem.size());
    const QString target = dir + "/" + newStem + ext;
    QFile::remove(target);
    if (!QFile::copy(base.path() + "/" + name, target)) qFatal("cannot copy %s", qPrintable(name));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    if (ext.compare(".db", Qt::CaseInsensitive) == 0) dbPath = target;
  }
  // A sample without its data file (index files only) gives the path the table would have.
  return dbPath.isEmpty() ? dir + "/" + newStem + ".DB" : dbPath;
}

// The file beside `dbPath` with extension `ext`, whatever its case, or "" when missing.
inline QString Beside(const QString& dbPath, const QString& ext) {
  const QFileInfo db(dbPath);
  for (const QString& name : QDir(db.path()).entryList(QDir::Files)) {
    if (name.compare(db.completeBaseName() + ext, Qt::CaseInsensitive) == 0)
      return db.path() + "/" + name;
  }
  return {};
}

inline QByteArray Read(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(file));
  return f.readAll();
}

inline void Write(const QString& file, const QByteArray& bytes) {
  QFile f(file);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
    qFatal("cannot write %s", qPrintable(file));
  f.write(bytes);
}

inline void PokeByte(const QString& file, int offset, quint8 value) {
  QByteArray b = Read(file);
  if (offset >= b.size()) qFatal("offset past end of %s", qPrintable(file));
  b[offset] = static_cast<char>(value);
  Write(file, b);
}

inline void PokeU16(const QString& file, int offset, quint16 value) {
  PokeByte(file, offset, value & 0xFF);
  PokeByte(file, offset + 1, value >> 8);
}

inline quint8 PeekByte(const QString& file, int offset) {
  return static_cast<quint8>(Read(file).at(offset));
}

inline void Truncate(const QString& file, qint64 size) {
  QFile f(file);
  if (!f.resize(size)) qFatal("cannot truncate %s", qPrintable(file));
}

// CUSTOMER (keyed, 4 blocks, secondary index "City") and C (keyed, indexes "A" and "B") carry
// index stamps that disagree with their data files; copying the stamps across gives sound
// tables with populated secondary indexes.
inline QString RestampedCustomer(const QString& dir) {
  const QString db = CopyTable("paradoxdriver/db/CUSTOMER", dir);
  PokeByte(db, 0x2D, PeekByte(Beside(db, ".PX"), 0x2C));
  PokeByte(Beside(db, ".Y06"), 0x2C, PeekByte(Beside(db, ".X06"), 0x2D));
  return db;
}

inline QString RestampedC(const QString& dir) {
  const QString db = CopyTable("paradoxdriver/joins/C", dir);
  PokeByte(db, 0x2D, PeekByte(Beside(db, ".PX"), 0x2C));
  for (const char* n : {"2", "3"}) {
    PokeByte(Beside(db, QString(".Y0") + n), 0x2C, PeekByte(Beside(db, QString(".X0") + n), 0x2D));
  }
  return db;
}

// ---- Tables made by the project ----------------------------------------------------------------

namespace made {

using zel::engine::FieldType;
using zel::engine::Record;
using zel::engine::TableDef;

inline QString Create(const QString& dir, const QString& file, const TableDef& def,
                      const std::vector<Record>& records) {
  const QString db = dir + "/" + file;
  zel::engine::CreateTable(db.toStdString(), def, records);
  return db;
}

inline std::int64_t Day(int n) {
  return zel::engine::record::DateFromYmd(2024, 1, 1) + n;
}

}  // namespace made

// The ORDERS sample's definition (level 7, code page 437, key "Order No" N, 71-byte records)
// with 224 records: 8 full 2 KiB blocks of 28 records, and a .PX of one leaf block of 8 entries
// of 14 bytes.
inline QString MadeOrders(const QString& dir, const QString& as = "ORDERS") {
  using namespace made;
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
  static const char* const kVia[] = {"UPS", "DHL", "FedEx", "Emery", "US Mail"};
  static const char* const kPay[] = {"Credit", "Check", "Cash", "COD"};
  static const char* const kMonth[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::vector<Record> records;
  for (int i = 0; i < 224; ++i) {
    const double total = 100.0 + (i * 37) % 900 + 0.25 * (i % 4);
    const double paid = (i % 3 == 0) ? total : total / 2;
    records.push_back({1001.0 + i, 1221.0 + (i * 13) % 150, Day(i), Day(i + 3),
                       std::string(kVia[i % 5]), total, paid, total - paid,
                       std::string(i % 2 ? "Net 30" : "FOB"), std::string(kPay[i % 4]),
                       std::string(kMonth[i % 12])});
  }
  return Create(dir, as + ".DB", def, records);
}

// The C sample's definition (level 5, three Long fields keyed on C) with its three records and
// single-field indexes on A (.X02/.Y02) and B (.X03/.Y03).
inline QString MadeC(const QString& dir) {
  using namespace made;
  TableDef def;
  def.level = 5;
  def.codePage = 1252;
  def.keyFieldCount = 1;
  def.fields = {
      {"C", FieldType::LongInt, 0}, {"A", FieldType::LongInt, 0}, {"B", FieldType::LongInt, 0}};
  def.indexes = {{"A", {"A"}, false, false}, {"B", {"B"}, false, false}};
  return Create(dir, "C.DB", def,
                {{std::int64_t{1}, std::int64_t{30}, std::int64_t{200}},
                 {std::int64_t{2}, std::int64_t{10}, std::int64_t{300}},
                 {std::int64_t{3}, std::int64_t{20}, std::int64_t{100}}});
}

// The CUSTOMER sample's shape (level 7, key CustNo autoincrement, 20 records of 4 blocks, the
// single-field index City A15 as .X06/.Y06 with 25-byte tree entries); its memo field becomes
// a text field, as the writer makes no BLOB files.
inline QString MadeCustomer(const QString& dir) {
  using namespace made;
  TableDef def;
  def.level = 7;
  def.codePage = 1252;
  def.keyFieldCount = 1;
  def.fields = {{"CustNo", FieldType::AutoInc, 0},    {"FirstName", FieldType::Alpha, 51},
                {"LastName", FieldType::Alpha, 50},   {"EMail", FieldType::Alpha, 100},
                {"Street", FieldType::Alpha, 30},     {"City", FieldType::Alpha, 15},
                {"State/Prov", FieldType::Alpha, 20}, {"Zip/Postal Code", FieldType::Alpha, 10},
                {"Comments", FieldType::Alpha, 110},  {"DateEntered", FieldType::Date, 0}};
  def.indexes = {{"City", {"City"}, false, false}};
  static const char* const kCity[] = {"Zurich", "Basel", "Bern", "Geneva",
                                      "Lugano", "Chur",  "Sion"};
  std::vector<Record> records;
  for (int i = 1; i <= 20; ++i) {
    records.push_back({std::int64_t{i}, "First " + std::to_string(i), "Last " + std::to_string(i),
                       "c" + std::to_string(i) + "@example.com", std::to_string(i) + " Main St",
                       std::string(kCity[i % 7]), std::string("ZH"), std::to_string(8000 + i),
                       std::string("regular"), Day(i)});
  }
  return Create(dir, "CUSTOMER.DB", def, records);
}

// A heap table (no key) of 600 records of 106 bytes: 32 blocks of 2 KiB.
inline QString MadeHeap(const QString& dir) {
  using namespace made;
  TableDef def;
  def.level = 7;
  def.codePage = 1252;
  def.fields = {{"AC", FieldType::Alpha, 3},
                {"Country", FieldType::Alpha, 23},
                {"State", FieldType::Alpha, 21},
                {"St", FieldType::Alpha, 4},
                {"Desc", FieldType::Alpha, 55}};
  std::vector<Record> records;
  for (int i = 0; i < 600; ++i) {
    records.push_back({std::to_string(200 + i % 800), std::string("USA"), std::string("State"),
                       std::string("ST"), "area " + std::to_string(i)});
  }
  return Create(dir, "AREACODE.DB", def, records);
}

// The fk1 sample's definition (level 5, code page 850, key ID autoincrement, index on FK), with
// two records.
inline QString MadeFk1(const QString& dir) {
  using namespace made;
  TableDef def;
  def.level = 5;
  def.codePage = 850;
  def.keyFieldCount = 1;
  def.fields = {{"ID", FieldType::AutoInc, 0}, {"FK", FieldType::LongInt, 0}};
  def.indexes = {{"FK", {"FK"}, false, false}};
  return Create(dir, "fk1.DB", def,
                {{std::int64_t{1}, std::int64_t{7}}, {std::int64_t{2}, std::int64_t{5}}});
}

// The fk4 sample's definition (level 5, code page 850, four fields, named index "reference" on
// FK1 and FK), with two records.
inline QString MadeFk4(const QString& dir) {
  using namespace made;
  TableDef def;
  def.level = 5;
  def.codePage = 850;
  def.keyFieldCount = 1;
  def.fields = {{"ID", FieldType::LongInt, 0},
                {"FK1", FieldType::LongInt, 0},
                {"B1", FieldType::Alpha, 3},
                {"FK", FieldType::LongInt, 0}};
  def.indexes = {{"reference", {"FK1", "FK"}, false, false}};
  return Create(dir, "fk4.DB", def,
                {{std::int64_t{1}, std::int64_t{1}, std::string("abc"), std::int64_t{1}},
                 {std::int64_t{2}, std::int64_t{1}, std::string("def"), std::int64_t{2}}});
}

}  // namespace enginetest
