// zelcheck --rebuild: on the demo station's damage that ends in a replacement or a restore, the
// rebuilt table holds every record the damage left readable, byte for byte, under every index it
// had, and pxlib reads it; the old files are kept first; duplicates go to KEYVIOL.csv; what the
// writer cannot make faithfully, a busy table and a missing structure are refused with nothing
// changed.
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <map>

#include "engine/TableWriter.h"
#include "tests/salvage/SalvageFixtures.h"
#include "tests/support/DemoStations.h"
#include "tests/support/Samples.h"

using namespace salvagetest;
namespace eng = zel::engine;

namespace {

struct Run {
  int status = -1;
  QString out, err;
};

Run Zelcheck(const QStringList& args, const QString& prefix = {}) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (!prefix.isEmpty()) env.insert("WINEPREFIX", prefix);
  p.setProcessEnvironment(env);
  p.start(ZEL_ZELCHECK, args);
  Run r;
  if (!p.waitForFinished(120000)) return r;
  r.status = p.exitCode();
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

// Every file under `dir` (relative path -> SHA-256), for "nothing changed".
std::map<QString, QByteArray> Tree(const QString& dir) {
  std::map<QString, QByteArray> files;
  QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
      files[QDir(dir).relativeFilePath(path)] =
          QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
  }
  return files;
}

QString Station(const QString& prefix, const QString& folder) {
  return prefix + "/drive_c/ZELPOS/" + folder;
}

// The folder zelcheck names on its "old files kept in:" line.
QString KeptFolder(const QString& out) {
  for (const QString& line : out.split('\n'))
    if (line.startsWith("old files kept in:")) return line.mid(18).trimmed();
  return {};
}

quint64 Figure(const QString& out, const QString& label) {
  for (const QString& line : out.split('\n'))
    if (line.startsWith(label))
      return line.mid(label.size()).trimmed().section(' ', 0, 0).toULongLong();
  return ~0ull;
}

// The named indexes of a table as zelcheck --info lists them ("name \"X\""), in file order.
QStringList IndexNames(const QString& db) {
  const Run info = Zelcheck({"--info", db});
  QStringList names;
  for (const QString& line : info.out.split('\n')) {
    const int at = line.indexOf("name \"");
    if (at >= 0) names << line.mid(at + 6).section('"', 0, 0);
  }
  return names;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

// A keyed table with an autoincrement key, a case-insensitive index, an Alpha index and 4 KiB
// blocks, in `dir`.
QString WriteKeyedTable(const QString& dir, int records) {
  eng::TableDef def;
  def.fields = {{"Id", eng::FieldType::AutoInc, 0},
                {"Name", eng::FieldType::Alpha, 20},
                {"Qty", eng::FieldType::LongInt, 0},
                {"Notes", eng::FieldType::Memo, 12}};
  def.keyFieldCount = 1;
  def.indexes = {{"ByName", {"Name"}, true, false}, {"Qty", {"Qty"}, false, false}};
  def.blockSize = 4096;
  std::vector<eng::Record> rows;
  for (int i = 1; i <= records; ++i)
    rows.push_back({std::int64_t{i * 3}, "name " + std::to_string(i % 50), std::int64_t{i % 17},
                    std::string(i % 3 ? 40 : 2, char('a' + i % 26))});
  const QString db = dir + "/KEYED.DB";
  eng::CreateTable(db.toStdString(), def, rows);
  return db;
}

}  // namespace

class TestZelcheckRebuild : public QObject {
  Q_OBJECT

  QTemporaryDir tmp_;
  QString reference_;  // a healthy station, built once

 private slots:
  void initTestCase();
  void stationDamage_data();
  void stationDamage();
  void keyViolationsAutoincrementAndLayoutKept();
  void refusalsChangeNothing_data();
  void refusalsChangeNothing();
  void headerDestroyedOutsideAStationNeedsATemplate();
  void borlandSamplesRebuiltOrRefused();
  void badUse_data();
  void badUse();
};

void TestZelcheckRebuild::initTestCase() {
  QVERIFY(tmp_.isValid());
  reference_ = tmp_.path() + "/reference";
  const QString built = zel::test::BuildDemoStation(reference_, {}, 40);
  QVERIFY2(built.isEmpty(), qPrintable(built));
}

// Each damage kind of the demo station that ends in a new empty table or a restore.
void TestZelcheckRebuild::stationDamage_data() {
  QTest::addColumn<QString>("damage");
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("table");
  QTest::addColumn<QString>("structureFrom");
  QTest::newRow("header destroyed, current shift (catalogue's definition)")
      << "db-header"
      << "TEMPDATA"
      << "PUMPSALE"
      << "the catalogue's definition of TEMPDATA\\PUMPSALE";
  QTest::newRow("header destroyed, master table with indexes (catalogue's definition)")
      << "db-header:PERMDATA/ATTEND"
      << "PERMDATA"
      << "ATTEND"
      << "the catalogue's definition of PERMDATA\\ATTEND";
  QTest::newRow("data file cut short, history") << "db-truncated"
                                                << "HISTORY"
                                                << "PUMPHIST"
                                                << "the table";
}

void TestZelcheckRebuild::stationDamage() {
  QFETCH(QString, damage);
  QFETCH(QString, folder);
  QFETCH(QString, table);
  QFETCH(QString, structureFrom);
  const QString prefix = tmp_.path() + "/station-" + table;
  const QString built = zel::test::BuildDemoStation(prefix, {damage}, 40);
  QVERIFY2(built.isEmpty(), qPrintable(built));
  const QString healthy = Station(reference_, folder) + "/" + table + ".DB";
  const QString db = Station(prefix, folder) + "/" + table + ".DB";
  const QList<QByteArray> before = ChainRecords(healthy);
  const QStringList indexesBefore = IndexNames(healthy);
  const auto oldFiles = Tree(Station(prefix, folder));

  const Run r = Zelcheck({"--rebuild", "C:\\ZELPOS\\" + folder + "\\" + table + ".DB"}, prefix);
  QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
  QVERIFY2(r.out.contains("structure from:     " + structureFrom), qPrintable(r.out));

  // Every record in the rebuilt table was in the table before the damage, byte for byte, and
  // what is missing is what zelcheck counts as lost.
  const QList<QByteArray> after = ChainRecords(db);
  QVERIFY2(SubBag(after, before), "a record that was not in the table");
  QCOMPARE(Figure(r.out, "records kept:"), quint64(after.size()));
  if (r.out.contains("records lost:       not known")) {
    QCOMPARE(after.size(), before.size());  // only the header was destroyed
  } else {
    QCOMPARE(Figure(r.out, "records lost:"), quint64(before.size() - after.size()));
  }
  if (damage == "db-truncated") {
    QVERIFY2(after.size() < before.size() && r.out.contains("cut short by the end of the file"),
             qPrintable(r.out));
  }

  // Usable under every index it had, clean to the deep check, and read by pxlib.
  QCOMPARE(IndexNames(db), indexesBefore);
  QStringList verify{db};
  for (const QString& name : indexesBefore) verify << "--index" << name;
  const Run check = Zelcheck(verify);
  QVERIFY2(check.status == 0, qPrintable(check.out + check.err));
  const Run deep = Zelcheck({"--deep", db});
  QVERIFY2(deep.status == 0, qPrintable(deep.out + deep.err));
  QCOMPARE(PxlibRecordCount(db), after.size());
  QCOMPARE(HeaderOf(db).numRecords, quint32(after.size()));

  // The old files were kept as they were; the staging folder is gone.
  const QString kept = KeptFolder(r.out);
  QVERIFY2(kept.startsWith(prefix + "/drive_c/ZELPOS/ZelUtil.Damaged/") && kept.endsWith(folder),
           qPrintable(kept));
  for (const auto& [name, hash] : oldFiles) {
    if (!name.startsWith(table + ".")) continue;
    QFile copy(kept + "/" + name);
    QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(name + " was not kept"));
    QCOMPARE(QCryptographicHash::hash(copy.readAll(), QCryptographicHash::Sha256), hash);
  }
  QVERIFY(QFile::exists(kept + "/" + table + ".csv"));
  QVERIFY(!QDir(Station(prefix, folder) + "/.zeltmp-rebuild-" + table).exists());
  // Files of other tables are untouched.
  const auto now = Tree(Station(prefix, folder));
  for (const auto& [name, hash] : oldFiles)
    if (!name.startsWith(table + ".")) QCOMPARE(now.at(name), hash);
}

// A keyed table whose chain holds a key twice: the second goes to KEYVIOL.csv, not silently
// away; the autoincrement goes on above the highest value; block size, BLOBs and both indexes
// (one case-insensitive) come back as they were.
void TestZelcheckRebuild::keyViolationsAutoincrementAndLayoutKept() {
  const QString dir = tmp_.path() + "/keyed";
  QVERIFY(QDir().mkpath(dir));
  const QString db = WriteKeyedTable(dir, 400);
  const px::Header h = HeaderOf(db);
  QCOMPARE(h.BlockSize(), std::size_t{4096});
  QByteArray bytes = enginetest::Read(db);
  const QList<QByteArray> before = ChainRecords(db);
  // The second record takes the first one's key.
  const int first = BlockOffset(h, h.firstBlock) + 6;
  bytes.replace(first + h.recordSize, 4, bytes.mid(first, 4));
  WriteFile(db, bytes);

  const Run r = Zelcheck({"--rebuild", db});
  QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
  QCOMPARE(Figure(r.out, "records kept:"), quint64(399));
  QCOMPARE(Figure(r.out, "records lost:"), quint64(0));
  QCOMPARE(Figure(r.out, "key violations:"), quint64(1));
  QVERIFY2(r.out.contains("indexes rebuilt:    primary, ") && r.out.contains(", ByName") &&
               r.out.contains(", Qty"),
           qPrintable(r.out));
  const QString kept = KeptFolder(r.out);
  QVERIFY2(QFileInfo(kept).fileName().startsWith("KEYED.rebuild-"), qPrintable(kept));
  QCOMPARE(QFileInfo(kept).absolutePath(), QFileInfo(db).absolutePath());
  const QList<QStringList> violations = CsvRows(kept + "/KEYVIOL.csv");
  QCOMPARE(violations.size(), 1);
  QCOMPARE(violations[0][0], QString("3"));  // the first record's key, held twice

  const px::Header after = HeaderOf(db);
  QCOMPARE(after.BlockSize(), std::size_t{4096});
  QCOMPARE(after.numRecords, quint32(399));
  QCOMPARE(after.autoInc, quint32(1200));  // the highest present; the next is above it
  const QList<QByteArray> rebuilt = ChainRecords(db);
  QList<QByteArray> expected = before;
  expected.removeAt(1);
  for (int i = 0; i < rebuilt.size(); ++i)  // BLOB descriptors point into the new .MB
    QCOMPARE(rebuilt[i].left(h.recordSize - 10), expected[i].left(h.recordSize - 10));
  const Run check = Zelcheck({db, "--index", "ByName", "--index", "Qty"});
  QVERIFY2(check.status == 0, qPrintable(check.out));
  const Run deep = Zelcheck({"--deep", db});
  QVERIFY2(deep.status == 0, qPrintable(deep.out));
  QVERIFY2(Zelcheck({"--info", db}).out.contains("name \"ByName\"  maintained, case-insensitive"),
           "the case-insensitive index lost its flag");
  const PxlibView view = PxlibRead(db, dir + "/KEYED.MB");
  QVERIFY2(view.error.isEmpty(), qPrintable(view.error));
  QCOMPARE(view.rows.size(), 399);
}

void TestZelcheckRebuild::refusalsChangeNothing_data() {
  QTest::addColumn<QString>("refusal");
  QTest::addColumn<QString>("says");
  QTest::newRow("ZelPos running") << "zelpos"
                                  << "ZelPos is running: pid ";
  QTest::newRow("a process has the table open") << "holder"
                                                << ".DB is held by pid ";
  QTest::newRow("an index the writer cannot order") << "collation"
                                                    << "whose collation the writer does not know";
  QTest::newRow("data file missing") << "missing"
                                     << "data file is missing";
}

void TestZelcheckRebuild::refusalsChangeNothing() {
  QFETCH(QString, refusal);
  QFETCH(QString, says);
  const QString dir = tmp_.path() + "/refusal-" + refusal;
  QVERIFY(QDir().mkpath(dir));
  QString db = WriteKeyedTable(dir, 50);
  QProcess other;
  QFile open(db);
  if (refusal == "zelpos") {
    // A process whose command line names the POS program, as Wine's does, on this test's
    // prefix (zelcheck is started with the same).
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WINEPREFIX", dir + "/prefix");
    other.setProcessEnvironment(env);
    other.start("/bin/sh", {"-c", "sleep 30; true", "C:\\ZelPos\\ZelPos.exe"});
    QVERIFY(other.waitForStarted());
  } else if (refusal == "holder") {
    other.start("/bin/sh", {"-c", "exec 3<\"$0\"; sleep 30; true", db});
    QVERIFY(other.waitForStarted());
    QTest::qWait(300);
  } else if (refusal == "collation") {
    eng::TableDef def;
    def.fields = {{"Code", eng::FieldType::LongInt, 0}, {"Name", eng::FieldType::Alpha, 10}};
    def.keyFieldCount = 1;
    def.sortOrder = "intl";
    def.indexes = {{"Name", {"Name"}, false, false}};
    QFile::remove(db);
    db = dir + "/INTL.DB";
    eng::CreateTable(db.toStdString(), def, {{std::int64_t{1}, "b"}, {std::int64_t{2}, "a"}});
  } else if (refusal == "missing") {
    QVERIFY(QFile::remove(db));
  }
  const auto before = Tree(dir);
  const Run r = Zelcheck({"--rebuild", db}, dir + "/prefix");
  if (other.state() != QProcess::NotRunning) {
    other.kill();
    other.waitForFinished();
  }
  QCOMPARE(r.status, 1);
  QVERIFY2(r.err.contains("not rebuilt: ") && r.err.contains(says), qPrintable(r.err));
  QVERIFY(r.out.isEmpty());
  QCOMPARE(Tree(dir), before);
  QCOMPARE(QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

// Outside a station no catalogue knows the table: --like gives the structure.
void TestZelcheckRebuild::headerDestroyedOutsideAStationNeedsATemplate() {
  const QString dir = tmp_.path() + "/template";
  QVERIFY(QDir().mkpath(dir + "/like"));
  const QString db = WriteKeyedTable(dir, 300);
  const QString like = WriteKeyedTable(dir + "/like", 0);
  const QList<QByteArray> before = ChainRecords(db);
  QByteArray bytes = enginetest::Read(db);
  bytes.replace(0, 8, QByteArray(8, '\xff'));
  WriteFile(db, bytes);
  const auto damaged = Tree(dir);

  const Run refused = Zelcheck({"--rebuild", db});
  QCOMPARE(refused.status, 1);
  QVERIFY2(refused.err.contains("give a healthy table of the same kind with --like"),
           qPrintable(refused.err));
  QCOMPARE(Tree(dir), damaged);

  const Run r = Zelcheck({"--rebuild", db, "--like", like});
  QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
  QVERIFY2(r.out.contains("structure from:     " + like), qPrintable(r.out));
  QCOMPARE(Figure(r.out, "records kept:"), quint64(300));
  QCOMPARE(ChainRecords(db).size(), before.size());
  QCOMPARE(PxlibRecordCount(db), 300);
  QVERIFY(Zelcheck({db, "--index", "ByName", "--index", "Qty"}).status == 0);
}

// Every Borland sample: rebuilt with every record, usable under every index it had, its .VAL
// untouched and still matching, read by pxlib; or refused (encrypted, an unmaintained index, a
// collation the writer does not know) with nothing changed.
void TestZelcheckRebuild::borlandSamplesRebuiltOrRefused() {
  ZEL_NEED_SAMPLE("", "the rebuild of the Borland samples");
  int rebuilt = 0, refused = 0, n = 0;
  for (const QString& relative : zel::test::SampleTables()) {
    const QFileInfo sample(zel::test::SamplesDir() + "/" + relative);
    const QString dir = tmp_.path() + "/sample-" + QString::number(++n);
    QVERIFY(QDir().mkpath(dir));
    for (const QFileInfo& f :
         QDir(sample.absolutePath()).entryInfoList({sample.completeBaseName() + ".*"}, QDir::Files))
      if (f.completeBaseName() == sample.completeBaseName())
        QVERIFY(QFile::copy(f.absoluteFilePath(), dir + "/" + f.fileName()));
    const QString db = dir + "/" + sample.fileName();
    const QStringList indexes = IndexNames(db);
    const auto before = Tree(dir);
    const bool usableBefore = Zelcheck({db}).status == 0;
    const Run r = Zelcheck({"--rebuild", db});
    if (r.status != 0) {
      ++refused;
      QVERIFY2(r.status == 1 && r.err.contains("not rebuilt: "),
               qPrintable(relative + ": " + r.err));
      QVERIFY2(Tree(dir) == before, qPrintable(relative + ": changed although refused"));
      continue;
    }
    ++rebuilt;
    QStringList verify{db};
    for (const QString& name : indexes) verify << "--index" << name;
    const Run check = Zelcheck(verify);
    QVERIFY2(check.status == 0, qPrintable(relative + ": " + check.out + check.err));
    QCOMPARE(IndexNames(db), indexes);
    const quint64 kept = Figure(r.out, "records kept:");
    QCOMPARE(quint64(HeaderOf(db).numRecords), kept);
    if (usableBefore) QCOMPARE(Figure(r.out, "records lost:"), quint64(0));
    QCOMPARE(PxlibRecordCount(db), int(kept));
    for (const auto& [name, hash] : before)
      if (name.endsWith(".val", Qt::CaseInsensitive)) QCOMPARE(Tree(dir).at(name), hash);
  }
  qInfo("%d samples rebuilt, %d refused", rebuilt, refused);
  QVERIFY(rebuilt > 50);
}

void TestZelcheckRebuild::badUse_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("says");
  QTest::newRow("no table") << QStringList{"--rebuild"} << "no table given";
  QTest::newRow("an option of --salvage")
      << QStringList{"--rebuild", "X.DB", "--to", "Y.DB"} << "--rebuild takes no --to";
  QTest::newRow("template missing")
      << QStringList{"--rebuild", "X.DB", "--like", "/nonexistent/T.DB"}
      << "cannot read /nonexistent/T.DB";
}

// Bad arguments: exit 2, what is wrong on standard error, nothing written.
void TestZelcheckRebuild::badUse() {
  QFETCH(QStringList, args);
  QFETCH(QString, says);
  const Run r = Zelcheck(args);
  QCOMPARE(r.status, 2);
  QVERIFY2(r.err.contains(says), qPrintable(r.err));
  QVERIFY(r.out.isEmpty());
}

QTEST_GUILESS_MAIN(TestZelcheckRebuild)
#include "tst_zelcheck_rebuild.moc"
