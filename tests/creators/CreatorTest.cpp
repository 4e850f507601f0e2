// The Files and Index libraries, called through their loaded entry points on a temporary prefix.
#include <dlfcn.h>

#include <QTemporaryDir>
#include <QtTest>
#include <set>

#include "catalogue/Catalogue.h"
#include "creators/CreatorSupport.h"
#include "creators/Files.h"
#include "creators/Index.h"
#include "creators/Schemas.h"
#include "engine/TableWriter.h"
#include "tests/creators/TableCheck.h"
#include "tools/demostation/StationData.h"

namespace fs = std::filesystem;
using namespace zel;

namespace {

QString Q(std::string_view s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
std::string S(const QString& s) {
  return s.toStdString();
}

// Writes the table with its demo records at the given scale, as a running POS would have it.
void WriteWithRecords(std::string_view folder, std::string_view table, std::size_t scale) {
  const auto* schema = creators::FindSchema(folder, table);
  QVERIFY(schema != nullptr);
  const fs::path db = creators::TableFile(folder, table);
  fs::create_directories(db.parent_path());
  try {
    engine::CreateTable(db, schema->def,
                        demostation::Records(*schema, demostation::RecordCount(*schema, scale)));
  } catch (const std::exception& e) {
    QFAIL(e.what());
  }
}

// The catalogue table and every other table its creator serves.
std::vector<const catalogue::TableEntry*> SameCreator(const catalogue::TableEntry& entry) {
  std::vector<const catalogue::TableEntry*> served;
  for (const auto& other : catalogue::Entries())
    if (other.tableCreator == entry.tableCreator) served.push_back(&other);
  return served;
}

QStringList IndexFileExtensions(const fs::path& db) {
  QStringList extensions;
  for (const auto& item : fs::directory_iterator(db.parent_path()))
    if (QString::fromStdString(item.path().stem().string()) == QString::fromStdString(db.stem()))
      extensions << QString::fromStdString(item.path().extension().string()).toUpper();
  extensions.sort();
  return extensions;
}

}  // namespace

class CreatorTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void exportsOnlyEntryPoints_data();
  void exportsOnlyEntryPoints();
  void tableCreators_data();
  void tableCreators();
  void existingTablesKept_data();
  void existingTablesKept();
  void indexCreators_data();
  void indexCreators();
  void indexCreatorLeavesUnreadableTable_data();
  void indexCreatorLeavesUnreadableTable();
  void tableCreatorReportsFailure();

 private:
  std::unique_ptr<QTemporaryDir> prefix_;
  fs::path Root() const { return fs::path(S(prefix_->path())) / "drive_c"; }
};

void CreatorTest::init() {
  prefix_ = std::make_unique<QTemporaryDir>();
  QVERIFY(prefix_->isValid());
  QVERIFY(QDir().mkpath(prefix_->path() + "/drive_c/ZELPOS"));
  qputenv("WINEPREFIX", prefix_->path().toLocal8Bit());
}

void CreatorTest::exportsOnlyEntryPoints_data() {
  QTest::addColumn<QString>("library");
  QTest::addColumn<QStringList>("names");
  QStringList files, index;
#define ZEL_NAME(name) << #name
  files ZEL_FILES_ENTRY_POINTS(ZEL_NAME);
  index ZEL_INDEX_ENTRY_POINTS(ZEL_NAME);
#undef ZEL_NAME
  QTest::newRow("Files") << QStringLiteral(FILES_LIBRARY) << files;
  QTest::newRow("Index") << QStringLiteral(INDEX_LIBRARY) << index;
}

void CreatorTest::exportsOnlyEntryPoints() {
  QFETCH(QString, library);
  QFETCH(QStringList, names);
  QProcess nm;
  nm.start("nm", {"-D", "--defined-only", library});
  QVERIFY(nm.waitForFinished(30000));
  QCOMPARE(nm.exitCode(), 0);
  QStringList exported;
  for (const QByteArray& line : nm.readAllStandardOutput().split('\n')) {
    const QList<QByteArray> parts = line.simplified().split(' ');
    if (parts.size() == 3) exported << QString::fromLatin1(parts[2]);
  }
  exported.sort();
  names.sort();
  QCOMPARE(exported, names);

  // The entry points the program binds are the ones the loaded library exports.
  void* handle = dlopen(library.toLocal8Bit().constData(), RTLD_NOW | RTLD_NOLOAD);
  QVERIFY2(handle != nullptr, dlerror());
  std::set<void*> distinct;
  for (const QString& name : names) {
    void* symbol = dlsym(handle, name.toLatin1().constData());
    QVERIFY2(symbol != nullptr, qPrintable(name));
    distinct.insert(symbol);
  }
  QCOMPARE(distinct.size(), static_cast<std::size_t>(names.size()));
  QCOMPARE(dlsym(handle, "CreateDebTemp") != nullptr, library.contains("Files"));
  if (library.contains("Files"))
    QVERIFY(reinterpret_cast<catalogue::CreatorProc>(dlsym(handle, "CreateDebTemp")) ==
            catalogue::TableCreator("PERMDATA", "DEBTEMP"));
  else
    QVERIFY(reinterpret_cast<catalogue::CreatorProc>(dlsym(handle, "CreateGradeIndex")) ==
            catalogue::IndexCreator("CONFIGDATA", "GRADE"));
  dlclose(handle);
}

void CreatorTest::tableCreators_data() {
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("table");
  for (const auto& entry : catalogue::Entries())
    QTest::addRow("%s/%s", entry.folder.data(), entry.table.data())
        << Q(entry.folder) << Q(entry.table);
}

void CreatorTest::tableCreators() {
  QFETCH(QString, folder);
  QFETCH(QString, table);
  const auto* entry = catalogue::FindEntry(S(folder), S(table));
  QVERIFY(entry != nullptr);
  const auto creator = catalogue::TableCreator(entry->folder, entry->table);
  QVERIFY(creator != nullptr);
  const QByteArray errors = test::CaptureStderr(creator);
  QVERIFY2(errors.isEmpty(), errors.constData());

  for (const catalogue::TableEntry* served : SameCreator(*entry)) {
    const auto* schema = creators::FindSchema(served->folder, served->table);
    QVERIFY(schema != nullptr);
    const fs::path db = creators::TableFile(served->folder, served->table);
    QVERIFY2(fs::exists(db), db.c_str());
    QCOMPARE(test::OpenProblem(served->folder, served->table), QString());

    // The file set: .PX for a keyed table, one .XGn/.YGn pair per named index, nothing else.
    QStringList expected{".DB"};
    const bool keyed = schema->def.keyFieldCount > 0;
    QCOMPARE(keyed, !served->indexCreator.empty());
    if (keyed) expected << ".PX";
    for (std::size_t i = 0; i < schema->def.indexes.size(); ++i)
      expected << QString(".XG%1").arg(i) << QString(".YG%1").arg(i);
    expected.sort();
    QCOMPARE(IndexFileExtensions(db), expected);
    QCOMPARE(test::CatalogueIndexes(served->folder, served->table).size(),
             schema->def.indexes.size());

    // pxlib reads it as an empty level-7 table with the schema's fields and key.
    const QString px =
        keyed ? QString::fromStdString(test::SiblingFile(db, ".PX").string()) : QString();
    const auto dump = test::RunPxDump(PXDUMP_PATH, QString::fromStdString(db.string()), px);
    QVERIFY2(dump.exitCode == 0, dump.err.constData());
    QCOMPARE(dump.Header("records"), 0L);
    QCOMPARE(dump.Header("fields"), static_cast<long>(schema->def.fields.size()));
    QCOMPARE(dump.Header("keyfields"), static_cast<long>(schema->def.keyFieldCount));
    QCOMPARE(dump.Header("codepage"), 1252L);
    if (keyed) QVERIFY2(dump.out.contains("primaryindex attached"), dump.out.constData());
  }
}

void CreatorTest::existingTablesKept_data() {
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("table");
  QTest::addColumn<QString>("missing");  // the other table of a shared creator, absent at first
  QTest::newRow("keyed with named indexes") << "PERMDATA"
                                            << "ATTEND"
                                            << "";
  QTest::newRow("heap") << "TEMPDATA"
                        << "PUMPSALE"
                        << "";
  QTest::newRow("shared creator, DEBTREP there") << "TEMPDATA"
                                                 << "DEBTREP"
                                                 << "PERMDATA/DEBTEMP";
  QTest::newRow("shared creator, OTKREK there") << "PERMDATA"
                                                << "OTKREK"
                                                << "PERMDATA/DEBMAOTK";
}

void CreatorTest::existingTablesKept() {
  QFETCH(QString, folder);
  QFETCH(QString, table);
  QFETCH(QString, missing);
  WriteWithRecords(S(folder), S(table), 25);
  if (QTest::currentTestFailed()) return;
  const fs::path dir = creators::TableFile(S(folder), S(table)).parent_path();
  const auto before = test::Snapshot(dir);
  QVERIFY(!before.isEmpty());

  const QByteArray errors = test::CaptureStderr(catalogue::TableCreator(S(folder), S(table)));
  QVERIFY2(errors.isEmpty(), errors.constData());

  auto after = test::Snapshot(dir);
  if (!missing.isEmpty()) {
    const QStringList other = missing.split('/');
    QCOMPARE(test::OpenProblem(S(other[0]), S(other[1])), QString());
    // Only the missing table's files were added beside the existing one.
    for (auto it = after.begin(); it != after.end();)
      it = it.key().startsWith(other[1] + ".", Qt::CaseInsensitive) ? after.erase(it) : ++it;
  }
  QCOMPARE(after, before);
  QCOMPARE(test::OpenProblem(S(folder), S(table)), QString());
}

void CreatorTest::indexCreators_data() {
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("table");
  QTest::addColumn<bool>("damageInstead");  // overwrite the index headers instead of deleting
  for (const auto& entry : catalogue::Entries())
    if (!entry.indexCreator.empty())
      QTest::addRow("%s deleted", entry.indexCreator.data())
          << Q(entry.folder) << Q(entry.table) << false;
  QTest::newRow("CreateAttendIndex damaged") << "PERMDATA"
                                             << "ATTEND" << true;
  QTest::newRow("CreateDebtTransIndex damaged") << "PERMDATA"
                                                << "DEBTRANS" << true;
}

void CreatorTest::indexCreators() {
  QFETCH(QString, folder);
  QFETCH(QString, table);
  QFETCH(bool, damageInstead);
  const auto* schema = creators::FindSchema(S(folder), S(table));
  QVERIFY(schema != nullptr);
  // Enough records for several data blocks and a multi-level index.
  WriteWithRecords(S(folder), S(table), 3000);
  if (QTest::currentTestFailed()) return;
  const fs::path db = creators::TableFile(S(folder), S(table));
  const QString dbPath = QString::fromStdString(db.string());
  const auto before = test::RunPxDump(PXDUMP_PATH, dbPath);
  QCOMPARE(before.exitCode, 0);
  QFile dbFile(dbPath);
  QVERIFY(dbFile.open(QIODevice::ReadOnly));
  const QByteArray dbBytes = dbFile.readAll();
  dbFile.close();

  for (const auto& item : fs::directory_iterator(db.parent_path())) {
    const QString ext = QString::fromStdString(item.path().extension().string()).toUpper();
    if (ext == ".DB") continue;
    if (damageInstead) {
      QFile file(QString::fromStdString(item.path().string()));
      QVERIFY(file.open(QIODevice::ReadWrite));
      QVERIFY(file.seek(0));
      file.write(QByteArray(8, '\xEE'));
    } else {
      fs::remove(item.path());
    }
  }
  QVERIFY(!test::OpenProblem(S(folder), S(table)).isEmpty());

  const QByteArray errors = test::CaptureStderr(catalogue::IndexCreator(S(folder), S(table)));
  QVERIFY2(errors.isEmpty(), errors.constData());
  QCOMPARE(test::OpenProblem(S(folder), S(table)), QString());

  // The records are untouched: the data file is byte for byte the same and reads the same.
  QVERIFY(dbFile.open(QIODevice::ReadOnly));
  QCOMPARE(dbFile.readAll(), dbBytes);
  const auto after = test::RunPxDump(PXDUMP_PATH, dbPath,
                                     QString::fromStdString(test::SiblingFile(db, ".PX").string()));
  QVERIFY2(after.exitCode == 0, after.err.constData());
  QVERIFY(after.out.contains("primaryindex attached"));
  QCOMPARE(after.Records(), before.Records());
  QCOMPARE(after.Records().size(), static_cast<qsizetype>(demostation::RecordCount(*schema, 3000)));
}

void CreatorTest::indexCreatorLeavesUnreadableTable_data() {
  QTest::addColumn<QString>("damage");
  QTest::newRow("data file missing") << "missing";
  QTest::newRow("data file header damaged") << "header";
  QTest::newRow("data file truncated") << "truncated";
}

void CreatorTest::indexCreatorLeavesUnreadableTable() {
  QFETCH(QString, damage);
  WriteWithRecords("PERMDATA", "STOCK", 20);
  if (QTest::currentTestFailed()) return;
  const fs::path db = creators::TableFile("PERMDATA", "STOCK");
  fs::remove(test::SiblingFile(db, ".XG0"));  // something for a rebuild to bring back
  if (damage == "missing") {
    fs::remove(db);
  } else if (damage == "header") {
    QFile file(QString::fromStdString(db.string()));
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.write(QByteArray(6, '\xEE'));
  } else {
    fs::resize_file(db, fs::file_size(db) - 100);
  }
  const auto before = test::Snapshot(db.parent_path());

  const QByteArray errors = test::CaptureStderr(&::CreateStockIndex);

  QCOMPARE(test::Snapshot(db.parent_path()), before);
  QVERIFY2(errors.startsWith("ZelUtil creator CreateStockIndex: could not rebuild the indexes"),
           errors.constData());
  QVERIFY2(errors.contains("STOCK.DB"), errors.constData());
  QCOMPARE(errors.count('\n'), 1);
}

void CreatorTest::tableCreatorReportsFailure() {
  // A file where the data folder should be: nothing can be written, and the caller carries on.
  QFile blocker(QString::fromStdString((Root() / "ZELPOS" / "TEMPDATA").string()));
  QVERIFY(blocker.open(QIODevice::WriteOnly));
  blocker.write("not a folder");
  blocker.close();

  const QByteArray errors = test::CaptureStderr(&::CreateEnd);
  QVERIFY2(errors.startsWith("ZelUtil creator CreateEnd: "), errors.constData());
  QVERIFY2(errors.contains("VOID.DB"), errors.constData());
  QVERIFY(blocker.open(QIODevice::ReadOnly));
  QCOMPARE(blocker.readAll(), QByteArray("not a folder"));

  // CreateDebTemp builds the table it can even when the other fails.
  const QByteArray shared = test::CaptureStderr(&::CreateDebTemp);
  QVERIFY2(shared.contains("DEBTREP.DB") && !shared.contains("DEBTEMP.DB"), shared.constData());
  QCOMPARE(test::OpenProblem("PERMDATA", "DEBTEMP"), QString());
}

QTEST_GUILESS_MAIN(CreatorTest)
#include "CreatorTest.moc"
