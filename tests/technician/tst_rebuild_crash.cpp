// zelcheck --rebuild killed right before and right after each destructive file operation it
// makes (the fault layer, LD_PRELOAD), then started again: the table heals, usable under every
// index, with every record the first rebuild would have kept, and the old data file is never
// lost: it is the live one or it is kept.
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>

#include "engine/TableWriter.h"
#include "tests/salvage/SalvageFixtures.h"
#include "tests/support/DemoStations.h"
#include "tests/support/FaultPreload.h"

using namespace salvagetest;
namespace fs = std::filesystem;
namespace eng = zel::engine;

namespace {

struct Run {
  bool killed = false;
  int status = -1;
  QString out, err;
};

Run Zelcheck(const QStringList& args, const QString& prefix, const QString& root,
             const QStringList& faults = {}) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const QString& key : env.keys())
    if (key.startsWith("ZEL_FAULT_")) env.remove(key);
  env.insert("WINEPREFIX", prefix);
  env.insert("LD_PRELOAD", ZEL_FAULT_SHIM);
  env.insert("ASAN_OPTIONS", zel::test::AsanOptionsAllowingPreload(env.value("ASAN_OPTIONS")));
  env.insert("ZEL_FAULT_ROOT", root);
  env.insert("ZEL_FAULT_NOSYNC", "1");
  for (const QString& setting : faults) {
    const qsizetype eq = setting.indexOf('=');
    env.insert(setting.left(eq), setting.mid(eq + 1));
  }
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(ZEL_ZELCHECK, args);
  Run r;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.killed = p.exitStatus() == QProcess::CrashExit;
  r.status = p.exitCode();
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QByteArray Hash(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// True when a file under `root` holds the bytes hashed as `hash`.
bool SomewhereUnder(const QString& root, const QByteArray& hash) {
  QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext())
    if (Hash(it.next()) == hash) return true;
  return false;
}

int DestructiveOperations(const QString& trace) {
  QFile f(trace);
  if (!f.open(QIODevice::ReadOnly)) return 0;
  int most = 0;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const int at = line.indexOf(" d=");
    if (at >= 0) most = std::max(most, line.mid(at + 3).split(' ').value(0).toInt());
  }
  return most;
}

}  // namespace

class TestRebuildCrash : public QObject {
  Q_OBJECT

  QTemporaryDir tmp_;

 private slots:
  void initTestCase() { QVERIFY(tmp_.isValid()); }
  void killedAnywhereHeals_data();
  void killedAnywhereHeals();
};

void TestRebuildCrash::killedAnywhereHeals_data() {
  QTest::addColumn<QString>("fixture");
  // A station's master table whose header is destroyed: the catalogue's definition, the kept
  // files in ZelUtil.Damaged, a .PX and two named indexes swapped in.
  QTest::newRow("station table, header destroyed") << "station";
  // A table of its own with BLOBs, a key held twice and two indexes: the .MB and KEYVIOL.csv.
  QTest::newRow("table with BLOBs and a repeated key") << "blobs";
}

void TestRebuildCrash::killedAnywhereHeals() {
  QFETCH(QString, fixture);
  const QString base = tmp_.path() + "/" + fixture;
  const QString pristine = base + "/pristine";
  QString table;  // relative to a copy of the fixture
  QStringList indexes;
  QList<QByteArray> expected;
  if (fixture == "station") {
    const QString reference = base + "/reference";
    QVERIFY(zel::test::BuildDemoStation(reference, {}, 5).isEmpty());
    QVERIFY(zel::test::BuildDemoStation(pristine, {"db-header:PERMDATA/ATTEND"}, 5).isEmpty());
    table = "drive_c/ZELPOS/PERMDATA/ATTEND.DB";
    expected = ChainRecords(reference + "/" + table);
    indexes = {"AttName", "TagNum"};
  } else {
    QVERIFY(QDir().mkpath(pristine + "/data"));
    eng::TableDef def;
    def.fields = {{"Id", eng::FieldType::LongInt, 0},
                  {"Name", eng::FieldType::Alpha, 16},
                  {"Notes", eng::FieldType::Memo, 11}};
    def.keyFieldCount = 1;
    def.indexes = {{"ByName", {"Name"}, true, false}, {"Both", {"Name", "Notes"}, false, false}};
    def.indexes.pop_back();  // a BLOB field cannot be indexed
    def.indexes.push_back({"NameId", {"Name", "Id"}, false, false});
    std::vector<eng::Record> rows;
    for (int i = 1; i <= 300; ++i)
      rows.push_back(
          {std::int64_t{i}, "n" + std::to_string(i % 37), std::string(20 + i % 90, 'x')});
    table = "data/BLOBS.DB";
    const QString db = pristine + "/" + table;
    eng::CreateTable(db.toStdString(), def, rows);
    QByteArray bytes = enginetest::Read(db);
    const px::Header h = HeaderOf(db);
    const int first = BlockOffset(h, h.firstBlock) + 6;
    bytes.replace(first + h.recordSize, 4, bytes.mid(first, 4));  // record 2 takes key 1
    enginetest::Write(db, bytes);
    indexes = {"ByName", "NameId"};
    expected = ChainRecords(db);
    expected.removeAt(1);
  }
  const QByteArray oldData = Hash(pristine + "/" + table);
  auto copy = [&](const QString& name) {
    const QString to = base + "/" + name;
    fs::remove_all(to.toStdString());
    fs::copy(pristine.toStdString(), to.toStdString(), fs::copy_options::recursive);
    return to;
  };

  // One clean run with a trace counts the destructive operations.
  const QString traced = copy("traced");
  const Run clean = Zelcheck({"--rebuild", traced + "/" + table}, traced, traced,
                             {"ZEL_FAULT_TRACE=" + base + "/trace"});
  QVERIFY2(clean.status == 0 && !clean.killed, qPrintable(clean.out + clean.err));
  const int operations = DestructiveOperations(base + "/trace");
  QVERIFY2(operations >= 6, qPrintable(QString::number(operations)));
#if defined(__SANITIZE_ADDRESS__)
  const int step = 3;  // every third kill point under the sanitizers, each run being slower
#else
  const int step = 1;
#endif

  qInfo("%d destructive operations: %d kill points", operations,
        2 * ((operations + step - 1) / step));
  int healedByFinishing = 0;
  for (const char* when : {"before", "after"}) {
    for (int k = 1; k <= operations; k += step) {
      const QString point = QString("%1:%2").arg(when).arg(k);
      const QString dir = copy("point");
      const QString db = dir + "/" + table;
      const Run killed = Zelcheck({"--rebuild", db}, dir, dir, {"ZEL_FAULT_CRASH=" + point});
      QVERIFY2(killed.killed, qPrintable(point + ": not killed\n" + killed.out + killed.err));
      QVERIFY2(Hash(db) == oldData || SomewhereUnder(dir, oldData),
               qPrintable(point + ": the old data file is lost"));

      const Run again = Zelcheck({"--rebuild", db}, dir, dir);
      QVERIFY2(again.status == 0, qPrintable(point + ": " + again.out + again.err));
      if (again.out.contains("interrupted in its swap")) ++healedByFinishing;
      QStringList verify{db};
      for (const QString& name : indexes) verify << "--index" << name;
      const Run check = Zelcheck(verify, dir, dir);
      QVERIFY2(check.status == 0, qPrintable(point + ": " + check.out + check.err));
      // Byte for byte, but for BLOB descriptors, which point into the new .MB.
      const int descriptor = fixture == "blobs" ? 10 : 0;
      auto trimmed = [&](QList<QByteArray> records) {
        for (QByteArray& r : records) r.chop(descriptor);
        return records;
      };
      const QList<QByteArray> records = trimmed(ChainRecords(db));
      QCOMPARE(records.size(), expected.size());
      QVERIFY2(SubBag(trimmed(expected), records), qPrintable(point + ": records differ"));
      QVERIFY2(!QDir(QFileInfo(db).absolutePath() + "/.zeltmp-rebuild-" +
                     QFileInfo(db).completeBaseName())
                    .exists(),
               qPrintable(point + ": the staging folder stayed"));
      QVERIFY2(SomewhereUnder(dir, oldData), qPrintable(point + ": the old data file is lost"));
      QCOMPARE(PxlibRecordCount(db), expected.size());
    }
  }
  QVERIFY2(healedByFinishing > 0, "no kill point fell inside a swap");
}

QTEST_GUILESS_MAIN(TestRebuildCrash)
#include "tst_rebuild_crash.moc"
