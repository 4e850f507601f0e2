// The table object's inspect-only open, used on shift backups: it checks a table exactly as an
// ordinary open does, but makes no lock file and writes nothing anywhere, so leftover lock files
// do not stop it, a live one still does, and a read-only tree serves an ordinary user.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <stdexcept>

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "engine/TableWriter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TreeSnapshot.h"

using namespace zel::engine;
namespace ec = zel::engine::ErrorCode;
using zel::test::LockingChild;
using zel::test::SnapshotTree;
using zel::test::TreeDifference;

namespace {

TableDef Stock() {
  TableDef def;
  def.fields = {{"Code", FieldType::LongInt, 0}, {"Name", FieldType::Alpha, 20}};
  def.keyFieldCount = 1;
  def.indexes = {{"ByName", {"Name"}, false, false}};
  return def;
}

void MakeStock(const QString& dir) {
  QDir().mkpath(dir);
  std::vector<Record> records;
  for (int i = 1; i <= 300; ++i)
    records.push_back({std::int64_t{i}, "Item " + std::to_string(1000 - i)});
  CreateTable((dir + "/STOCK.DB").toStdString(), Stock(), records);
}

int OpenCode(bool inspectOnly, const std::string& table, const std::string& index = {}) {
  Table t;
  t.SetInspectOnly(inspectOnly);
  t.SetDatabaseName("PERMDATA");
  t.SetTableName(table);
  t.SetIndexName(index);
  int code = 0;
  try {
    t.Open();
  } catch (const EngineError& e) {
    code = e.Code();
  }
  t.Close();
  Session::Default().Close();
  return code;
}

void SetTreeWritable(const QString& root, bool writable) {
  const QFileDevice::Permissions files =
      QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther |
      (writable ? QFileDevice::WriteOwner : QFileDevice::Permissions());
  const QFileDevice::Permissions dirs =
      files | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
  QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile::setPermissions(path, QFileInfo(path).isDir() ? dirs : files);
  }
  QFile::setPermissions(root, dirs);
}

}  // namespace

class EngineInspectionTest : public QObject {
  Q_OBJECT

  QTemporaryDir prefix_;
  QString driveC_;
  QString backup_;  // C:\ShiftBackUp\PERMDATA3 on the host
  const std::string copy_ = "C:\\ShiftBackUp\\PERMDATA3\\STOCK";

 private slots:
  void initTestCase() {
    QVERIFY(prefix_.isValid());
    // An ordinary user must be able to reach the tree (the temporary folder is private).
    QVERIFY(QFile::setPermissions(prefix_.path(), QFileDevice::Permissions(0x7755)));
    qputenv("WINEPREFIX", prefix_.path().toLocal8Bit());
    driveC_ = prefix_.path() + "/drive_c";
    backup_ = driveC_ + "/ShiftBackUp/PERMDATA3";
    MakeStock(backup_);
    QVERIFY(QFile::exists(backup_ + "/STOCK.PX"));
  }
  void init() { Session::Default().Close(); }
  void cleanup() {
    Session::Default().Close();
    SetTreeWritable(driveC_ + "/ShiftBackUp", true);
    for (const QString& name : QDir(backup_).entryList({"*.LCK", "*.lck"}, QDir::Files))
      QFile::remove(backup_ + "/" + name);
  }

  // Nothing appears or changes anywhere on drive C:, while open, after the table's close and
  // after the session's; an ordinary open of the same copy does make its lock files.
  void writesNothing_data() {
    QTest::addColumn<QString>("index");
    QTest::newRow("primary") << "";
    QTest::newRow("secondary") << "ByName";
  }
  void writesNothing() {
    QFETCH(QString, index);
    const auto before = SnapshotTree(driveC_);
    Table t;
    t.SetInspectOnly(true);
    t.SetDatabaseName("PERMDATA");
    t.SetTableName(copy_);
    t.SetIndexName(index.toStdString());
    t.Open();
    QVERIFY(t.Active());
    QVERIFY(Session::Default().IsOpen());
    QVERIFY2(SnapshotTree(driveC_) == before,
             qPrintable(TreeDifference(before, SnapshotTree(driveC_))));
    t.Close();
    QVERIFY2(SnapshotTree(driveC_) == before,
             qPrintable(TreeDifference(before, SnapshotTree(driveC_))));
    Session::Default().Close();
    QCOMPARE(SnapshotTree(driveC_), before);

    // The mode belongs to the table object: an ordinary open locks the folder as always.
    t.SetInspectOnly(false);
    t.Open();
    QVERIFY(QFile::exists(backup_ + "/PDOXUSRS.LCK"));
    t.Close();
    Session::Default().Close();
    QVERIFY(!QFile::exists(backup_ + "/PDOXUSRS.LCK"));
  }

  // The same verdict as an ordinary open, sound or damaged.
  void sameVerdictAsAnOrdinaryOpen_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("index");
    QTest::addColumn<bool>("usable");
    QTest::newRow("sound") << ""
                           << "" << true;
    QTest::newRow("sound, secondary") << ""
                                      << "ByName" << true;
    QTest::newRow("unknown index") << ""
                                   << "NoSuch" << false;
    QTest::newRow("primary index missing") << "PX"
                                           << "" << false;
    QTest::newRow("secondary index missing") << "XG0"
                                             << "ByName" << false;
    QTest::newRow("corrupt header") << "header"
                                    << "" << false;
    QTest::newRow("truncated") << "truncate"
                               << "" << false;
  }
  void sameVerdictAsAnOrdinaryOpen() {
    QFETCH(QString, damage);
    QFETCH(QString, index);
    QFETCH(bool, usable);
    const QString dir = driveC_ + "/ShiftBackUp/PERMDATA5";
    QDir(dir).removeRecursively();
    MakeStock(dir);
    if (damage == "PX" || damage == "XG0") {
      QVERIFY(QFile::remove(dir + "/STOCK." + damage));
    } else if (damage == "header") {
      QFile f(dir + "/STOCK.DB");
      QVERIFY(f.open(QIODevice::ReadWrite));
      f.write(QByteArray(64, '\xEE'));
    } else if (damage == "truncate") {
      QVERIFY(QFile::resize(dir + "/STOCK.DB", QFileInfo(dir + "/STOCK.DB").size() / 2));
    }
    const std::string table = "C:\\ShiftBackUp\\PERMDATA5\\STOCK";
    const int inspected = OpenCode(true, table, index.toStdString());
    const int ordinary = OpenCode(false, table, index.toStdString());
    QCOMPARE(inspected, ordinary);
    QCOMPARE(inspected == 0, usable);
    QDir(dir).removeRecursively();
  }

  // Lock files that no live process holds are leftovers of a crash: the copy opens and they stay
  // as they were. An ordinary open still calls the folder foreign.
  void staleLockFilesAreLeftAlone_data() {
    QTest::addColumn<QStringList>("files");
    QTest::newRow("PARADOX.LCK") << QStringList{"PARADOX.LCK"};
    QTest::newRow("pdoxusrs.lck") << QStringList{"pdoxusrs.lck"};
    QTest::newRow("both") << QStringList{"PARADOX.LCK", "PDOXUSRS.LCK"};
  }
  void staleLockFilesAreLeftAlone() {
    QFETCH(QStringList, files);
    for (const QString& name : files) {
      QFile f(backup_ + "/" + name);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("left by a run that was killed");
    }
    const auto before = SnapshotTree(driveC_);
    QCOMPARE(OpenCode(true, copy_), 0);
    QCOMPARE(OpenCode(true, copy_, "ByName"), 0);
    QVERIFY2(SnapshotTree(driveC_) == before,
             qPrintable(TreeDifference(before, SnapshotTree(driveC_))));
    QCOMPARE(OpenCode(false, copy_), int(ec::ForeignNetFile));
  }

  // A lock that a live process holds means the copy is in use: busy, as for an ordinary open.
  // Once that process is gone, its lock files are leftovers and the copy opens.
  void liveLockMakesItBusy_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("expected");
    QTest::newRow("PDOXUSRS.LCK") << "PDOXUSRS.LCK" << int(ec::DirectoryBusy);
    QTest::newRow("paradox.lck") << "paradox.lck" << int(ec::DirectoryBusy);
    QTest::newRow("table in use") << "STOCK.DB" << int(ec::TableBusy);
    QTest::newRow("index in use") << "STOCK.XG0" << int(ec::TableBusy);
  }
  void liveLockMakesItBusy() {
    QFETCH(QString, file);
    QFETCH(int, expected);
    const QString path = backup_ + "/" + file;
    if (!QFile::exists(path)) {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
    }
    LockingChild holder(path.toStdString(), LockingChild::Kind::Fcntl);
    QVERIFY(holder.Locked());
    QCOMPARE(OpenCode(true, copy_), expected);
    QCOMPARE(OpenCode(false, copy_), expected);
    holder.Kill();
    QVERIFY(QFile::exists(path));
    QCOMPARE(OpenCode(true, copy_), 0);
  }

  // A backup tree that the user may only read, owned by root: an ordinary open cannot make its
  // lock files there, the inspection needs none. As root the check runs in a child that drops
  // to nobody, since root may write anywhere.
  void readOnlyTreeServesAnOrdinaryUser() {
    SetTreeWritable(driveC_ + "/ShiftBackUp", false);
    const auto before = SnapshotTree(driveC_);
    const std::string copy = copy_;
    const int status = zel::test::RunAsOrdinaryUser([&copy] {
      if (OpenCode(true, copy) != 0) return 1;
      if (OpenCode(true, copy, "ByName") != 0) return 2;
      if (OpenCode(false, copy) == 0) return 3;  // would mean the tree was writable after all
      return 0;
    });
    QCOMPARE(status, 0);
    QVERIFY2(SnapshotTree(driveC_) == before,
             qPrintable(TreeDifference(before, SnapshotTree(driveC_))));
  }

  // The scope gives the table back the mode it had, also when left by an error.
  void scopeRestoresTheMode() {
    Table t;
    {
      const InspectOnlyScope scope(t);
      QVERIFY(t.InspectOnly());
    }
    QVERIFY(!t.InspectOnly());
    try {
      const InspectOnlyScope scope(t);
      throw std::runtime_error("open failed");
    } catch (const std::runtime_error&) {
    }
    QVERIFY(!t.InspectOnly());
    t.SetInspectOnly(true);
    { const InspectOnlyScope scope(t); }
    QVERIFY(t.InspectOnly());
  }
};

QTEST_GUILESS_MAIN(EngineInspectionTest)
#include "tst_engine_inspection.moc"
