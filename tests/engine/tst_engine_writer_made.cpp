// Tables made by the engine's own writer: sound ones open under every index, and the damage
// the repairs must notice on them (stale stamps, broken trees, unsorted data) fails.
#include <QTemporaryDir>
#include <QtTest>

#include "engine/EngineError.h"
#include "engine/TableWriter.h"
#include "engine/Verifier.h"
#include "tests/engine/EngineFixtures.h"

using namespace zel::engine;
using namespace enginetest;
namespace ec = zel::engine::ErrorCode;

namespace {

// A keyed table big enough for a two-level .PX and multi-block secondary indexes.
TableDef Grades() {
  TableDef def;
  def.fields = {{"Code", FieldType::LongInt, 0},
                {"Name", FieldType::Alpha, 24},
                {"Price", FieldType::Money, 0},
                {"Group", FieldType::Short, 0}};
  def.keyFieldCount = 1;
  def.indexes = {{"ByName", {"Name"}, false, false}, {"Group", {"Group"}, false, false}};
  return def;
}

constexpr int kRecords = 20000;

RecordSource Source() {
  auto n = std::make_shared<int>(0);
  return [n]() -> std::optional<Record> {
    if (*n >= kRecords) return std::nullopt;
    const int i = (*n)++;
    // Codes out of order on input; the writer sorts them.
    const std::int64_t code = (std::int64_t{i} * 7919) % 100003;
    return Record{code, std::string("Grade ") + std::to_string(kRecords - i), double(i) / 4.0,
                  std::int64_t{i % 17}};
  };
}

int Code(const QString& db, const QString& index, QString* message = nullptr) {
  try {
    VerifyTable(db.toStdString(), index.toStdString());
  } catch (const EngineError& e) {
    if (message) *message = QString::fromStdString(e.what());
    return e.Code();
  }
  return 0;
}

}  // namespace

class EngineWriterMadeTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir master_;
  QString masterDb_;

 private slots:
  void initTestCase() {
    QVERIFY(master_.isValid());
    masterDb_ = master_.path() + "/GRADES.DB";
    CreateTable(masterDb_.toStdString(), Grades(), Source());
  }

  void damage_data() {
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("expected");
    for (const char* index : {"", "ByName", "byname", "Group"}) {
      QTest::newRow(qPrintable(QString("sound [%1]").arg(index))) << index << "" << 0;
    }
    QTest::newRow("data changed after indexing") << ""
                                                 << "bump DB 0x2D" << int(ec::IndexOutOfDate);
    QTest::newRow("restructured after indexing") << "ByName"
                                                 << "bump DB 0x2E" << int(ec::IndexOutOfDate);
    QTest::newRow("X left behind the primary index") << "ByName"
                                                     << "bump XG 0x2F" << int(ec::IndexOutOfDate);
    QTest::newRow("YG stamp behind") << "ByName"
                                     << "drop YG 0x2C" << int(ec::IndexOutOfDate);
    QTest::newRow("PX stamp ahead") << ""
                                    << "bump PX 0x2C" << 0;
    QTest::newRow("PX tree cut") << ""
                                 << "cut PX" << int(ec::CorruptIndex);
    QTest::newRow("YG tree cut") << "ByName"
                                 << "cut YG" << int(ec::CorruptIndex);
    QTest::newRow("X records swapped") << "ByName"
                                       << "swap X records" << int(ec::CorruptIndex);
    QTest::newRow("data records swapped") << ""
                                          << "swap DB records" << int(ec::CorruptFile);
    QTest::newRow("XG deleted") << "ByName"
                                << "delete XG" << int(ec::IndexDoesNotExist);
    QTest::newRow("YG deleted") << "ByName"
                                << "delete YG" << int(ec::FileDoesNotExist);
  }

  void damage() {
    QFETCH(QString, index);
    QFETCH(QString, damage);
    QFETCH(int, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString& name : QDir(master_.path()).entryList(QDir::Files)) {
      QVERIFY(QFile::copy(master_.path() + "/" + name, dir.path() + "/" + name));
    }
    const QString db = dir.path() + "/GRADES.DB";
    // The named index ByName is the first .XGn the writer made.
    QString xg, yg;
    for (const QString& name : QDir(dir.path()).entryList({"GRADES.XG*"}, QDir::Files)) {
      const QString x = dir.path() + "/" + name;
      if (Read(x).contains("ByName")) xg = x;
    }
    QVERIFY(!xg.isEmpty());
    yg = xg;
    yg[yg.size() - 3] = 'Y';
    const QString px = dir.path() + "/GRADES.PX";
    const auto bump = [](const QString& f, int off) { PokeByte(f, off, PeekByte(f, off) + 1); };
    const auto drop = [](const QString& f, int off) { PokeByte(f, off, PeekByte(f, off) - 1); };
    const auto swapFirstTwo = [](const QString& f) {
      // Records 1 and 2 of block 1: swapping them breaks the key order inside the block.
      QByteArray b = Read(f);
      const int header = quint8(b[2]) | (quint8(b[3]) << 8);
      const int rs = quint8(b[0]) | (quint8(b[1]) << 8);
      const int first = header + 6 + rs;
      const QByteArray r1 = b.mid(first, rs);
      b.replace(first, rs, b.mid(first + rs, rs));
      b.replace(first + rs, rs, r1);
      Write(f, b);
    };
    if (damage == "bump DB 0x2D") bump(db, 0x2D);
    if (damage == "bump DB 0x2E") bump(db, 0x2E);
    if (damage == "bump XG 0x2F") bump(xg, 0x2F);
    if (damage == "drop YG 0x2C") drop(yg, 0x2C);
    if (damage == "bump PX 0x2C") bump(px, 0x2C);
    if (damage == "cut PX") Truncate(px, QFileInfo(px).size() - 1024);
    if (damage == "cut YG") Truncate(yg, QFileInfo(yg).size() - 1024);
    if (damage == "swap X records") swapFirstTwo(xg);
    if (damage == "swap DB records") swapFirstTwo(db);
    if (damage == "delete XG") QFile::remove(xg);
    if (damage == "delete YG") QFile::remove(yg);
    QString message;
    const int code = Code(db, index, &message);
    QVERIFY2(code == expected, qPrintable(QString("expected 0x%1, got 0x%2: %3")
                                              .arg(expected, 0, 16)
                                              .arg(code, 0, 16)
                                              .arg(message)));
  }
};

QTEST_GUILESS_MAIN(EngineWriterMadeTest)
#include "tst_engine_writer_made.moc"
