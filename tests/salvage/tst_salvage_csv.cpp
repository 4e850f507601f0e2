// The CSV of salvaged records: RFC 4180 quoting, UTF-8 from the table's code page, ISO dates
// and times, numbers with a point, logical values as true/false, blanks as empty fields.
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>

#include "engine/CsvExport.h"
#include "engine/RecordEncoding.h"

using namespace zel::engine;
namespace px = zel::engine::px;

class TestSalvageCsv : public QObject {
  Q_OBJECT

 private slots:
  void quoting_data();
  void quoting();
  void values_data();
  void values();
  void fileHasHeaderRowAndCrlf();
};

void TestSalvageCsv::quoting_data() {
  QTest::addColumn<QByteArray>("value");
  QTest::addColumn<QByteArray>("field");
  QTest::newRow("plain") << QByteArray("Zurich") << QByteArray("Zurich");
  QTest::newRow("empty") << QByteArray("") << QByteArray("");
  QTest::newRow("comma") << QByteArray("a,b") << QByteArray("\"a,b\"");
  QTest::newRow("quote") << QByteArray("5\" pipe") << QByteArray("\"5\"\" pipe\"");
  QTest::newRow("only a quote") << QByteArray("\"") << QByteArray("\"\"\"\"");
  QTest::newRow("line feed") << QByteArray("a\nb") << QByteArray("\"a\nb\"");
  QTest::newRow("carriage return") << QByteArray("a\rb") << QByteArray("\"a\rb\"");
  QTest::newRow("spaces stay unquoted") << QByteArray(" a b ") << QByteArray(" a b ");
  QTest::newRow("semicolon stays unquoted") << QByteArray("a;b") << QByteArray("a;b");
}

void TestSalvageCsv::quoting() {
  QFETCH(QByteArray, value);
  QFETCH(QByteArray, field);
  std::string line;
  csv::AppendField(line, value.toStdString());
  QCOMPARE(QByteArray::fromStdString(line), field);
}

void TestSalvageCsv::values_data() {
  QTest::addColumn<int>("type");
  QTest::addColumn<int>("size");
  QTest::addColumn<int>("codePage");
  QTest::addColumn<QByteArray>("stored");
  QTest::addColumn<QString>("text");
  auto enc = [](FieldType t, int size, const FieldValue& v) {
    FieldDef f{"F", t, size};
    QByteArray b(record::StorageSize(f), '\0');
    record::Encode(f, v, reinterpret_cast<std::uint8_t*>(b.data()));
    return b;
  };
  auto row = [](const char* name, std::uint8_t code, int size, int cp, const QByteArray& stored,
                const QString& text) {
    QTest::newRow(name) << int(code) << size << cp << stored << text;
  };
  using C = std::uint8_t;
  row("alpha Windows-1252", px::FieldCode::Alpha, 8, 1252, QByteArray("M\xFCller\0\0", 8),
      QString::fromUtf8("Müller"));
  row("alpha code page 437", px::FieldCode::Alpha, 4, 437,
      QByteArray("\x81"
                 "ber",
                 4),
      QString::fromUtf8("über"));
  row("alpha code page 850", px::FieldCode::Alpha, 3, 850, QByteArray("\x82t\xE9", 3),
      QString::fromUtf8("étÚ"));
  row("alpha blank", px::FieldCode::Alpha, 3, 1252, QByteArray(3, '\0'), "");
  row("date", px::FieldCode::Date, 4, 1252,
      enc(FieldType::Date, 0, record::DateFromYmd(2024, 2, 29)), "2024-02-29");
  row("date 0001-01-01", px::FieldCode::Date, 4, 1252, enc(FieldType::Date, 0, std::int64_t{1}),
      "0001-01-01");
  // Years outside 0..9999 and hours past 99 come only from damage (the encoder refuses them),
  // so they are stored by hand; they print in full.
  auto sortableLong = [](std::int64_t v) {
    const auto u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(u >> (24 - 8 * i));
    return b;
  };
  row("date before year 1", px::FieldCode::Date, 4, 1252, sortableLong(-400), "-001-11-27");
  row("date after year 9999", px::FieldCode::Date, 4, 1252, sortableLong(4382546), "12000-01-02");
  row("time past 99 hours", px::FieldCode::Time, 4, 1252, sortableLong((100 * 3600 + 1) * 1000),
      "100:00:01");
  row("time", px::FieldCode::Time, 4, 1252,
      enc(FieldType::Time, 0, std::int64_t{(13 * 3600 + 5 * 60 + 9) * 1000}), "13:05:09");
  row("time with milliseconds", px::FieldCode::Time, 4, 1252,
      enc(FieldType::Time, 0, std::int64_t{250}), "00:00:00.250");
  row("midnight is not blank", px::FieldCode::Time, 4, 1252,
      enc(FieldType::Time, 0, std::int64_t{0}), "00:00:00");
  row("timestamp", px::FieldCode::Timestamp, 8, 1252,
      enc(FieldType::Timestamp, 0, record::TimestampFrom(record::DateFromYmd(2020, 2, 1), 3601000)),
      "2020-02-01T01:00:01");
  row("number", px::FieldCode::Number, 8, 1252, enc(FieldType::Number, 0, 1234.5), "1234.5");
  row("negative number", px::FieldCode::Number, 8, 1252, enc(FieldType::Number, 0, -0.25), "-0.25");
  row("zero is not blank", px::FieldCode::Number, 8, 1252, enc(FieldType::Number, 0, 0.0), "0");
  row("money", px::FieldCode::Currency, 8, 1252, enc(FieldType::Money, 0, 0.1), "0.1");
  row("large number", px::FieldCode::Number, 8, 1252, enc(FieldType::Number, 0, 1e20), "1e+20");
  row("short", px::FieldCode::Short, 2, 1252, enc(FieldType::Short, 0, std::int64_t{-5}), "-5");
  row("long", px::FieldCode::Long, 4, 1252, enc(FieldType::LongInt, 0, std::int64_t{123456}),
      "123456");
  row("autoincrement", px::FieldCode::AutoInc, 4, 1252,
      enc(FieldType::AutoInc, 0, std::int64_t{44}), "44");
  row("logical true", px::FieldCode::Logical, 1, 1252, QByteArray("\x81", 1), "true");
  row("logical false", px::FieldCode::Logical, 1, 1252, QByteArray("\x80", 1), "false");
  row("logical blank", px::FieldCode::Logical, 1, 1252, QByteArray(1, '\0'), "");
  QByteArray bcd(17, '\0');
  bcd[0] = C(0xC2);
  bcd[15] = 0x01;
  bcd[16] = 0x23;
  row("BCD 1.23", px::FieldCode::Bcd, 2, 1252, bcd, "1.23");
  QByteArray negBcd(17, '\xFF');
  negBcd[0] = 0x42;
  negBcd[15] = C(0xFE);
  negBcd[16] = C(0xDC);
  row("BCD -1.23", px::FieldCode::Bcd, 2, 1252, negBcd, "-1.23");
  row("bytes", px::FieldCode::Bytes, 3, 1252, QByteArray("\x01\xAB\x00", 3), "0x01ab00");
}

void TestSalvageCsv::values() {
  QFETCH(int, type);
  QFETCH(int, size);
  QFETCH(int, codePage);
  QFETCH(QByteArray, stored);
  QFETCH(QString, text);
  px::Field f;
  f.code = static_cast<std::uint8_t>(type);
  f.sizeByte = static_cast<std::uint8_t>(size);
  f.bytes = px::FieldBytes(f.code, f.sizeByte);
  QCOMPARE(f.bytes, static_cast<std::size_t>(stored.size()));
  // Numbers keep their point whatever the locale says.
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  csv::TextDecoder decoder(codePage);
  std::string out;
  csv::AppendValue(out, f, reinterpret_cast<const std::uint8_t*>(stored.constData()), decoder);
  std::setlocale(LC_NUMERIC, "C");
  QCOMPARE(QString::fromStdString(out), text);
}

void TestSalvageCsv::fileHasHeaderRowAndCrlf() {
  QTemporaryDir tmp;
  px::Header h;
  px::Field name;
  name.code = px::FieldCode::Alpha;
  name.sizeByte = 6;
  name.bytes = 6;
  name.name = "Name, first";
  px::Field qty;
  qty.code = px::FieldCode::Short;
  qty.sizeByte = 2;
  qty.bytes = 2;
  qty.offset = 6;
  qty.name = "Qty";
  h.fields = {name, qty};
  const std::string path = (tmp.path() + "/OUT.csv").toStdString();
  csv::RecordCsv out(path, h, 1252);
  std::uint8_t rec[8] = {'a', '"', 'b', 0, 0, 0, 0, 0};
  record::PutSortableShort(rec + 6, 7);
  out.Add(rec);
  QVERIFY(!QFile::exists(QString::fromStdString(path)));  // only when complete
  out.Commit();
  QFile f(QString::fromStdString(path));
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), QByteArray("\"Name, first\",Qty\r\n\"a\"\"b\",7\r\n"));
}

QTEST_GUILESS_MAIN(TestSalvageCsv)
#include "tst_salvage_csv.moc"
