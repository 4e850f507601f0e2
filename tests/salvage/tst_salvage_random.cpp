// Salvage under random damage (seeded, so every run is the same): what comes back is a subset
// of the original records, and every record of a chain block the damage left alone comes back.
#include <QTemporaryDir>
#include <QtTest>
#include <random>
#include <set>

#include "engine/CsvExport.h"
#include "engine/Salvage.h"
#include "tests/salvage/SalvageFixtures.h"

using namespace zel::engine;
using namespace enginetest;
using namespace salvagetest;

namespace {

constexpr int kIterations = 40;

// The CSV rows the salvage would write for `records`, to compare with what it wrote.
QSet<QString> CsvOf(const QList<QByteArray>& records, const px::Header& h, const QString& dir) {
  const QString path = dir + "/expected.csv";
  QFile::remove(path);
  {
    csv::RecordCsv out(path.toStdString(), h, h.codePage ? h.codePage : 1252);
    for (const auto& r : records) out.Add(reinterpret_cast<const std::uint8_t*>(r.constData()));
    out.Commit();
  }
  QSet<QString> rows;
  for (const auto& row : CsvRows(path)) rows.insert(row.join('\x1f'));
  QFile::remove(path);
  return rows;
}

QSet<QString> RowsOf(const std::filesystem::path& file) {
  QSet<QString> rows;
  if (file.empty()) return rows;
  for (const auto& row : CsvRows(QString::fromStdString(file.string())))
    rows.insert(row.join('\x1f'));
  return rows;
}

}  // namespace

class TestSalvageRandom : public QObject {
  Q_OBJECT

 private slots:
  void randomDamage_data();
  void randomDamage();
};

void TestSalvageRandom::randomDamage_data() {
  QTest::addColumn<QString>("fixture");
  QTest::newRow("keyed") << "keyed";
  QTest::newRow("heap") << "heap";
  QTest::newRow("keyed with deleted records in a free block") << "free";
}

void TestSalvageRandom::randomDamage() {
  QFETCH(QString, fixture);
  QTemporaryDir base;
  const QString db = fixture == "heap" ? MadeHeap(base.path()) : MadeOrders(base.path());
  px::Header h = HeaderOf(db);
  QList<QByteArray> deleted;
  if (fixture == "free") {
    // Block 8 freed with its records left in it.
    deleted = BlockRecords(Read(db), h, 8);
    PokeU16(db, px::off::NumRecords, static_cast<quint16>(h.numRecords - deleted.size()));
    PokeU16(db, px::off::UsedBlocks, 7);
    PokeU16(db, px::off::LastBlock, 7);
    PokeU16(db, px::off::FirstFreeBlock, 8);
    PokeU16(db, BlockOffset(h, 7), 0);
    PokeU16(db, BlockOffset(h, 8), 0);
    PokeU16(db, BlockOffset(h, 8) + 2, 0);
    PokeU16(db, BlockOffset(h, 8) + 4, static_cast<quint16>(-h.recordSize));
    h = HeaderOf(db);
  }
  const QByteArray healthy = Read(db);
  const QList<QByteArray> live = ChainRecords(db);
  const int chainBlocks = h.usedBlocks;
  const QSet<QString> allRows = CsvOf(live + deleted, h, base.path());
  QList<QSet<QString>> blockRows{{}};
  for (int b = 1; b <= chainBlocks; ++b)
    blockRows.append(CsvOf(BlockRecords(healthy, h, b), h, base.path()));

  for (int iteration = 0; iteration < kIterations; ++iteration) {
    std::mt19937 rng(static_cast<unsigned>(iteration * 7919 + fixture.size()));
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    QTemporaryDir tmp;
    const QString damaged = tmp.path() + "/T.DB";
    QByteArray file = healthy;
    std::set<int> touched;
    bool headerLies = false;
    int cutAt = file.size();
    QStringList what;
    const int damages = pick(1, 3);
    for (int d = 0; d < damages; ++d) {
      const int block = pick(1, h.fileBlocks);
      const int at = BlockOffset(h, block);
      switch (pick(0, 5)) {
        case 0:  // random bytes over a block
          for (std::size_t i = 0; i < h.BlockSize(); ++i) file[at + int(i)] = char(pick(0, 255));
          touched.insert(block);
          what << QString("garbage %1").arg(block);
          break;
        case 1:
          file.replace(at, int(h.BlockSize()), QByteArray(int(h.BlockSize()), '\0'));
          touched.insert(block);
          what << QString("zero %1").arg(block);
          break;
        case 2: {  // a wrong link
          const int field = pick(0, 1) * 2;
          const int value = pick(0, h.fileBlocks + 2);
          file[at + field] = char(value & 0xFF);
          file[at + field + 1] = char(value >> 8);
          touched.insert(block);
          what << QString("link %1+%2=%3").arg(block).arg(field).arg(value);
          break;
        }
        case 3: {
          // Applied after the other damage, which assumes the whole file.
          const int cut = pick(h.headerSize, file.size() - 1);
          cutAt = std::min(cutAt, cut);
          for (int b = 1; b <= h.fileBlocks; ++b)
            if (BlockOffset(h, b) + int(h.BlockSize()) > cut) touched.insert(b);
          what << QString("truncate %1").arg(cut);
          break;
        }
        case 4: {  // header figures that lie
          const int offsets[] = {px::off::NumRecords, px::off::UsedBlocks, px::off::FileBlocks,
                                 px::off::FirstBlock, px::off::LastBlock};
          const int off = offsets[pick(0, 4)];
          const int value = pick(0, h.fileBlocks * 2 + 2);
          file[off] = char(value & 0xFF);
          file[off + 1] = char(value >> 8);
          headerLies = true;
          what << QString("header %1=%2").arg(off).arg(value);
          break;
        }
        default: {  // a few bytes of a block's header
          for (int i = 0; i < 6; ++i) file[at + i] = char(pick(0, 255));
          touched.insert(block);
          what << QString("block header %1").arg(block);
          break;
        }
      }
    }
    file.truncate(cutAt);
    Write(damaged, file);
    const QByteArray context =
        (QString("iteration %1: ").arg(iteration) + what.join(", ")).toUtf8();

    SalvageReport r;
    try {
      r = SalvageTable(damaged.toStdString(), (tmp.path() + "/NEW.DB").toStdString());
    } catch (const std::exception& e) {
      QFAIL((context + ": " + e.what()).constData());
    }
    const QList<QByteArray> salvaged =
        r.tableWritten ? ChainRecords(tmp.path() + "/NEW.DB") : QList<QByteArray>();
    QVERIFY2(static_cast<std::uint64_t>(salvaged.size()) == r.recovered, context.constData());
    QVERIFY2(SubBag(salvaged, live), context.constData());
    const QSet<QString> outside = RowsOf(r.outsideCsv);
    QVERIFY2(outside.size() <= static_cast<int>(r.outsideChain), context.constData());
    QVERIFY2((outside - allRows).isEmpty(), context.constData());

    // Every record of a chain block the damage left alone comes back: into the table, or,
    // when the header's figures lie, at least into the outside file.
    const QSet<QString> back = RowsOf(r.csv) + outside;
    for (int b = 1; b <= chainBlocks; ++b) {
      if (touched.count(b)) continue;
      const QList<QByteArray> records = BlockRecords(healthy, h, b);
      if (headerLies) {
        QVERIFY2((blockRows[b] - back).isEmpty(), context.constData());
      } else {
        QVERIFY2(SubBag(records, salvaged), context.constData());
      }
    }
  }
}

QTEST_GUILESS_MAIN(TestSalvageRandom)
#include "tst_salvage_random.moc"
