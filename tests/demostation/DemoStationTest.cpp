// The demo-station builder: a healthy station opens everywhere; each damage breaks exactly
// its table; bad requests are refused with a message naming the problem.
#include <sys/stat.h>

#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <sstream>

#include "catalogue/Catalogue.h"
#include "creators/CreatorSupport.h"
#include "creators/Schemas.h"
#include "platform/DriveMapping.h"
#include "tests/creators/TableCheck.h"
#include "tools/demostation/DemoStation.h"
#include "tools/demostation/StationData.h"
#include "zel/Version.h"

namespace fs = std::filesystem;
using namespace zel;

namespace {

constexpr std::size_t kScale = 120;

// Every table of the station that does not open under the catalogue's indexes, as FOLDER/TABLE.
QStringList FailingTables() {
  QStringList failing;
  for (const auto& entry : catalogue::Entries())
    if (!test::OpenProblem(entry.folder, entry.table).isEmpty())
      failing << QString::fromLatin1(entry.folder.data(),
                                     static_cast<qsizetype>(entry.folder.size())) +
                     "/" +
                     QString::fromLatin1(entry.table.data(),
                                         static_cast<qsizetype>(entry.table.size()));
  if (!test::OpenProblem(std::string(catalogue::kControlFolder),
                         std::string(catalogue::kControlTable) + ".db", {})
           .isEmpty())
    failing << "DISPDATA/DUMMYDISP";
  return failing;
}

// Tables whose copy in a backup generation does not open.
QStringList FailingBackups(int generation) {
  QStringList failing;
  for (const auto& entry : catalogue::Entries()) {
    if (entry.repairPath != catalogue::RepairPath::Kept) continue;
    const std::string path = "C:\\ShiftBackUp\\" + std::string(entry.folder) +
                             std::to_string(generation) + "\\" + std::string(entry.table);
    if (!test::OpenProblem(std::string(entry.folder), path, {}).isEmpty())
      failing << QString::fromStdString(std::string(entry.folder) + "/" + std::string(entry.table));
  }
  return failing;
}

QByteArray ReadAll(const fs::path& file) {
  QFile f(QString::fromStdString(file.string()));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace

class DemoStationTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void healthyStation();
  void damage_data();
  void damage();
  void badRequests_data();
  void badRequests();
  void refusesExistingStation();
  void commandLine();

 private:
  std::string Build(const std::vector<std::string>& damages, int backupCount = 3);
  std::unique_ptr<QTemporaryDir> prefix_;
};

void DemoStationTest::init() {
  prefix_ = std::make_unique<QTemporaryDir>();
  QVERIFY(prefix_->isValid());
  qputenv("WINEPREFIX", prefix_->path().toLocal8Bit());
}

std::string DemoStationTest::Build(const std::vector<std::string>& damages, int backupCount) {
  demostation::StationOptions options;
  options.prefix = prefix_->path().toStdString();
  options.scale = kScale;
  options.backupCount = backupCount;
  for (const auto& text : damages) options.damages.push_back(demostation::ParseDamage(text));
  std::ostringstream out;
  demostation::BuildStation(options, out);
  return out.str();
}

void DemoStationTest::healthyStation() {
  const std::string summary = Build({});
  QVERIFY2(summary.find("Built 62 tables") != std::string::npos, summary.c_str());
  QCOMPARE(FailingTables(), QStringList());

  // Records as the builder promised them, read back by pxlib.
  for (const auto& schema : creators::Schemas()) {
    const fs::path db = creators::TableFile(schema.folder, schema.table);
    const auto dump = test::RunPxDump(PXDUMP_PATH, QString::fromStdString(db.string()));
    QVERIFY2(dump.exitCode == 0, dump.err.constData());
    QCOMPARE(dump.Header("records"), static_cast<long>(demostation::RecordCount(schema, kScale)));
    QVERIFY(dump.Header("records") > 0);
  }
  QCOMPARE(demostation::RecordCount(*creators::FindSchema("HISTORY", "PUMPHIST"), kScale), kScale);

  // Settings files, written as Windows writes them.
  QCOMPARE(ReadAll(platform::MapWindowsPath("c:\\Zelpos\\Zelpos.ini")),
           QByteArray("[Main]\r\nTillNumber=FC  1 - A\r\n"));
  QCOMPARE(ReadAll(platform::MapWindowsPath("C:\\ZelPos\\Backup.Ini")),
           QByteArray("[BackUpNu]\r\nCount=3\r\n"));

  // Seven generations, each holding a usable copy of every kept table and nothing else.
  int kept = 0;
  for (const auto& entry : catalogue::Entries())
    kept += entry.repairPath == catalogue::RepairPath::Kept ? 1 : 0;
  QCOMPARE(kept, 29);
  for (int generation = 1; generation <= 7; ++generation) {
    QCOMPARE(FailingBackups(generation), QStringList());
    const fs::path dir =
        platform::MapWindowsPath("C:\\ShiftBackUp\\PERMDATA" + std::to_string(generation));
    QVERIFY(fs::exists(dir / "ATTEND.DB") && fs::exists(dir / "ATTEND.PX"));
    QVERIFY(!fs::exists(dir / "PUMPSALE.DB"));
  }
  QVERIFY(!fs::exists(platform::MapWindowsPath("C:\\ShiftBackUp\\PERMDATA8")));
  QVERIFY(!fs::exists(platform::MapWindowsPath("C:\\ZelPos\\ZelUtil.Log")));
}

void DemoStationTest::damage_data() {
  QTest::addColumn<QString>("damage");
  QTest::addColumn<QStringList>("failing");
  QTest::addColumn<QString>("fileGone");  // a Windows path the damage must have removed
  QTest::newRow("stale locks in one folder")
      << "stale-locks:history" << QStringList{"HISTORY/PUMPHIST", "HISTORY/SUNHIST"} << "";
  QTest::newRow("px missing (default)")
      << "px-missing" << QStringList{"PERMDATA/STOCK"} << "C:\\ZELPOS\\PERMDATA\\STOCK.PX";
  QTest::newRow("px damaged") << "px-damaged:PERMDATA/DEBTVECH" << QStringList{"PERMDATA/DEBTVECH"}
                              << "";
  QTest::newRow("px out of date") << "px-stale" << QStringList{"CONFIGDATA/TANKCONF"} << "";
  QTest::newRow("named index missing")
      << "index-missing" << QStringList{"CONFIGDATA/GRADE"} << "C:\\ZELPOS\\CONFIGDATA\\GRADE.XG0";
  QTest::newRow("db header of a kept table")
      << "db-header:PERMDATA/ATTEND" << QStringList{"PERMDATA/ATTEND"} << "";
  QTest::newRow("db header of a heap") << "db-header" << QStringList{"TEMPDATA/PUMPSALE"} << "";
  QTest::newRow("db truncated") << "db-truncated" << QStringList{"HISTORY/PUMPHIST"} << "";
  QTest::newRow("db truncated, keyed")
      << "db-truncated:PERMDATA/DEBTRANS" << QStringList{"PERMDATA/DEBTRANS"} << "";
  QTest::newRow("table missing") << "table-missing" << QStringList{"TEMPDATA/CASHPAY"}
                                 << "C:\\ZELPOS\\TEMPDATA\\CASHPAY.DB";
  QTest::newRow("backup missing") << "backup-missing" << QStringList{}
                                  << "C:\\ShiftBackUp\\PERMDATA3\\ATTEND.DB";
  QTest::newRow("backup damaged") << "backup-damaged:CONFIGDATA/GRADE@5" << QStringList{} << "";
  QTest::newRow("no log folder") << "no-log-folder" << QStringList{} << "";
  QTest::newRow("read-only log") << "log-readonly" << QStringList{} << "";
}

void DemoStationTest::damage() {
  QFETCH(QString, damage);
  QFETCH(QStringList, failing);
  QFETCH(QString, fileGone);
  const std::string summary = Build({damage.toStdString()});
  QVERIFY2(summary.find("Damage:") != std::string::npos, summary.c_str());
  if (damage == "no-log-folder") {
    // The log's folder is the POS folder: it is gone, its tables are kept aside intact.
    QVERIFY(!fs::exists(platform::MapWindowsPath("C:\\ZelPos")));
    QVERIFY(fs::exists(platform::MapWindowsPath("C:\\ZelPos.away\\PERMDATA\\STOCK.DB")));
    return;
  }
  QCOMPARE(FailingTables(), failing);
  if (!fileGone.isEmpty()) QVERIFY(!fs::exists(platform::MapWindowsPath(fileGone.toStdString())));

  if (damage.startsWith("backup-")) {
    const bool grade = damage.contains("GRADE");
    const int generation = grade ? 5 : 3;
    const QStringList broken{grade ? "CONFIGDATA/GRADE" : "PERMDATA/ATTEND"};
    QCOMPARE(FailingBackups(generation), broken);
    QCOMPARE(FailingBackups(generation == 3 ? 2 : 4), QStringList());
  }
  const fs::path log = platform::MapWindowsPath("C:\\ZelPos\\ZelUtil.Log");
  if (damage == "log-readonly") {
    struct stat st {};
    QCOMPARE(::stat(log.c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0444u);
    QVERIFY(ReadAll(log).startsWith("01/03/2024  06:00:12  ZEL Util Start.\r\n"));
  }
}

void DemoStationTest::badRequests_data() {
  QTest::addColumn<QString>("damage");
  QTest::addColumn<QString>("message");
  QTest::newRow("unknown kind") << "px-gone"
                                << "unknown damage kind \"px-gone\"";
  QTest::newRow("heap has no .PX") << "px-missing:TEMPDATA/VOID"
                                   << "heap table";
  QTest::newRow("no named index") << "index-missing:PERMDATA/COD"
                                  << "has no named index";
  QTest::newRow("unknown table") << "db-header:PERMDATA/NOPE"
                                 << "PERMDATA/NOPE is not a table";
  QTest::newRow("no folder") << "db-header:STOCK"
                             << "FOLDER/TABLE";
  QTest::newRow("transient has no backup") << "backup-missing:TEMPDATA/VOID"
                                           << "not kept in the shift backup";
  QTest::newRow("generation out of range") << "backup-missing@8"
                                           << "generation must be 1 to 7";
  QTest::newRow("generation on a live damage") << "px-missing@2"
                                               << "only the backup kinds";
  QTest::newRow("not a data folder") << "stale-locks:ZELPOS"
                                     << "not a data folder";
  QTest::newRow("log kinds take no table") << "log-readonly:PERMDATA/COD"
                                           << "takes no table";
}

void DemoStationTest::badRequests() {
  QFETCH(QString, damage);
  QFETCH(QString, message);
  try {
    demostation::ParseDamage(damage.toStdString());
    QFAIL("accepted");
  } catch (const demostation::StationError& e) {
    QVERIFY2(QString::fromUtf8(e.what()).contains(message), e.what());
  }
}

void DemoStationTest::refusesExistingStation() {
  Build({});
  const fs::path stock = platform::MapWindowsPath("C:\\ZELPOS\\PERMDATA\\STOCK.DB");
  const QByteArray before = ReadAll(stock);
  try {
    Build({"table-missing:PERMDATA/STOCK"});
    QFAIL("built over an existing station");
  } catch (const demostation::StationError& e) {
    QVERIFY2(QString::fromUtf8(e.what()).contains("already exists"), e.what());
  }
  QCOMPARE(ReadAll(stock), before);
}

void DemoStationTest::commandLine() {
  QProcess tool;
  tool.start(DEMOSTATION_PATH, {"--help"});
  QVERIFY(tool.waitForFinished(30000));
  QCOMPARE(tool.exitCode(), 0);
  const QByteArray help = tool.readAllStandardOutput();
  for (const auto& kind : demostation::DamageKinds())
    QVERIFY2(help.contains(QByteArray::fromStdString("  " + kind.name)), kind.name.c_str());

  tool.start(DEMOSTATION_PATH, {"--scale", "many", "--prefix", prefix_->path()});
  QVERIFY(tool.waitForFinished(30000));
  QCOMPARE(tool.exitCode(), 2);
  QVERIFY(tool.readAllStandardError().contains("--scale wants a number"));

  tool.start(DEMOSTATION_PATH, {"--version"});
  QVERIFY(tool.waitForFinished(30000));
  QCOMPARE(tool.exitCode(), 0);
  QCOMPARE(tool.readAllStandardOutput(), QByteArray("zel-demostation ") + zel::kVersion + "\n");

  // No prefix named at all: refused rather than building in ~/.wine.
  QProcessEnvironment noPrefix = QProcessEnvironment::systemEnvironment();
  noPrefix.remove("WINEPREFIX");
  tool.setProcessEnvironment(noPrefix);
  tool.start(DEMOSTATION_PATH, {"--scale", "5"});
  QVERIFY(tool.waitForFinished(30000));
  QCOMPARE(tool.exitCode(), 2);
  QVERIFY(tool.readAllStandardError().contains("--prefix DIR is required"));
  tool.setProcessEnvironment(QProcessEnvironment::systemEnvironment());

  const QString dir = prefix_->path() + "/station";
  tool.start(DEMOSTATION_PATH, {"--prefix", dir, "--till", "FC  2 - B", "--scale", "30",
                                "--backup-count", "7", "--damage", "px-missing"});
  QVERIFY(tool.waitForFinished(120000));
  const QByteArray out = tool.readAllStandardOutput();
  QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
  QVERIFY2(out.contains("px-missing PERMDATA/STOCK: deleted C:\\ZELPOS\\PERMDATA\\STOCK.PX"),
           out.constData());
  QCOMPARE(ReadAll(dir.toStdString() + "/drive_c/ZELPOS/Zelpos.ini"),
           QByteArray("[Main]\r\nTillNumber=FC  2 - B\r\n"));
  QCOMPARE(ReadAll(dir.toStdString() + "/drive_c/ZELPOS/Backup.Ini"),
           QByteArray("[BackUpNu]\r\nCount=7\r\n"));

  // A second build over that station, named by --prefix or by WINEPREFIX, is refused and
  // leaves it as it was.
  const std::string zelpos = dir.toStdString() + "/drive_c/ZELPOS";
  const QByteArray stock = ReadAll(zelpos + "/PERMDATA/STOCK.DB");
  for (const bool byEnvironment : {false, true}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WINEPREFIX", dir);
    tool.setProcessEnvironment(env);
    tool.start(DEMOSTATION_PATH, byEnvironment
                                     ? QStringList{"--till", "FC  3 - C"}
                                     : QStringList{"--prefix", dir, "--till", "FC  3 - C"});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 1);
    const QByteArray err = tool.readAllStandardError();
    QVERIFY2(err.contains(QByteArray::fromStdString(zelpos) + " already exists"), err.constData());
    QCOMPARE(ReadAll(zelpos + "/Zelpos.ini"), QByteArray("[Main]\r\nTillNumber=FC  2 - B\r\n"));
    QCOMPARE(ReadAll(zelpos + "/PERMDATA/STOCK.DB"), stock);
  }
  tool.setProcessEnvironment(QProcessEnvironment::systemEnvironment());

  tool.start(DEMOSTATION_PATH, {"--prefix", dir, "--damage", "nonsense"});
  QVERIFY(tool.waitForFinished(30000));
  QCOMPARE(tool.exitCode(), 1);
  QVERIFY(tool.readAllStandardError().contains("unknown damage kind"));
}

QTEST_GUILESS_MAIN(DemoStationTest)
#include "DemoStationTest.moc"
