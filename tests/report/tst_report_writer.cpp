// The report library on its own: the document's keys and values, local times with their offset,
// Windows paths, unique names within one second, the durable write and the rotation.
#include <sys/stat.h>
#include <utime.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <ctime>

#include "report/ExitStatus.h"
#include "report/ReportFolder.h"
#include "report/ReportPaths.h"
#include "report/ReportReader.h"
#include "report/ReportWriter.h"

namespace zr = zel::report;
using namespace std::chrono_literals;

namespace {

QJsonObject Parse(const std::string& document) {
  QJsonParseError error{};
  const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(document), &error);
  if (error.error != QJsonParseError::NoError) qWarning("%s", qPrintable(error.errorString()));
  return json.object();
}

QStringList Keys(const QJsonObject& object) {
  QStringList keys = object.keys();
  keys.sort();
  return keys;
}

QStringList Sorted(QStringList keys) {
  keys.sort();
  return keys;
}

// A time zone for the scope; the previous one comes back afterwards.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) : had_(std::getenv("TZ") != nullptr) {
    if (had_) saved_ = std::getenv("TZ");
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TimeZone() {
    if (had_)
      ::setenv("TZ", saved_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  bool had_;
  std::string saved_;
};

std::chrono::system_clock::time_point Utc(int year, int month, int day, int hour, int minute,
                                          int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return std::chrono::system_clock::from_time_t(::timegm(&tm));
}

void SetModified(const QString& path, std::time_t when) {
  const utimbuf times{when, when};
  QVERIFY(::utime(QFile::encodeName(path).constData(), &times) == 0);
}

void WriteText(const QString& path, const QByteArray& text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(text);
}

}  // namespace

class ReportWriterTest : public QObject {
  Q_OBJECT

 private slots:
  // Every key of every object, and each value as written.
  void documentKeysAndValues() {
    const TimeZone zone("UTC");
    zr::RunReport report;
    report.program = "zelutil-console";
    report.version = "9.8";
    report.started = Utc(2026, 12, 10, 8, 5, 1);
    report.finished = Utc(2026, 12, 10, 8, 6, 2);
    report.till = "FC  1 - A";
    report.masterTill = true;
    report.exitStatus = 1;
    report.step1.ok = false;
    report.step1.posWindow = zr::PosWindowState::StillThere;
    report.step1.lockFiles = {
        {"C:\\PDOXUSRS.NET", zr::LockAction::Deleted, std::nullopt},
        {"C:\\ZELPOS\\DISPDATA\\PARADOX.LCK", zr::LockAction::Failed,
         zr::ProcessRef{4242, "wineserver --foreground"}},
        {"C:\\ZELPOS\\DISPDATA\\PDOXUSRS.LCK", zr::LockAction::Absent, std::nullopt},
        {"C:\\ZELPOS\\PERMDATA\\PARADOX.LCK", zr::LockAction::Reported, std::nullopt}};
    zr::TableRecord restored{"PERMDATA", "DRIVERS", {}, zr::RepairRecord{}, false};
    restored.indexes = {
        {"", false,
         zr::ErrorRecord{0x2301, "Corrupt table/index header", "C:\\ZELPOS\\PERMDATA\\DRIVERS.DB"}},
        {"ByName", false, zr::ErrorRecord{std::nullopt, "out of memory", ""}}};
    restored.repair->kind = zr::RepairKind::Restore;
    restored.repair->usable = true;
    restored.repair->generation = "3";
    restored.repair->savedTo = "C:\\ZelPos\\ZelUtil.Damaged\\20261210-080600\\PERMDATA\\";
    restored.repair->salvage = zr::SalvageRecord{
        118, 28, 2, 1,
        "C:\\ZelPos\\ZelUtil.Damaged\\20261210-080600\\PERMDATA\\Salvaged\\DRIVERS.DB"};
    restored.repair->keptFiles = {
        {"DRIVERS.DB", "C:\\ZelPos\\ZelUtil.Damaged\\20261210-080600\\PERMDATA\\DRIVERS.DB"}};
    restored.repair->touchedFiles = {"DRIVERS.DB", "DRIVERS.PX"};
    restored.repair->manifest = {{"DRIVERS.DB", 4096, std::string(64, 'a')},
                                 {"DRIVERS.PX", 2048, std::string(64, 'b')}};
    restored.repair->lostByRestore = zr::LostByRestoreRecord{
        5, 2, 1, "C:\\ZelPos\\ZelUtil.Damaged\\20261210-080600\\Lost-by-restore.csv"};
    zr::TableRecord renewed{
        "TEMPDATA", "PUMPSALE", {{"", true, std::nullopt}}, zr::RepairRecord{}, false};
    renewed.repair->kind = zr::RepairKind::NewEmpty;
    zr::TableRecord skipped{"History", "SUNHIST", {}, std::nullopt, true};
    report.tables = {restored, renewed, skipped};
    report.damagedFilesFolder = "C:\\ZelPos\\ZelUtil.Damaged\\20261210-080600\\";

    const std::string text = zr::ReportDocument(report);
    QVERIFY(text.back() == '\n');
    const QJsonObject json = Parse(text);
    QCOMPARE(Keys(json), Sorted({"schema", "kind", "program", "version", "started", "finished",
                                 "till", "masterTill", "exitStatus", "checkOnly", "step1", "tables",
                                 "damagedFilesFolder", "tablesInUse"}));
    // The keys come in the order a reader expects them, not sorted.
    QVERIFY(text.find("\"schema\"") < text.find("\"program\"") &&
            text.find("\"exitStatus\"") < text.find("\"step1\"") &&
            text.find("\"step1\"") < text.find("\"tables\""));
    QCOMPARE(json["schema"].toInt(), 3);
    QCOMPARE(json["kind"].toString(), "run");
    QCOMPARE(json["program"].toString(), "zelutil-console");
    QCOMPARE(json["version"].toString(), "9.8");
    QCOMPARE(json["started"].toString(), "2026-12-10T08:05:01+00:00");
    QCOMPARE(json["finished"].toString(), "2026-12-10T08:06:02+00:00");
    QCOMPARE(json["till"].toString(), "FC  1 - A");
    QCOMPARE(json["masterTill"].toBool(), true);
    QCOMPARE(json["exitStatus"].toInt(), 1);
    QCOMPARE(json["checkOnly"].toBool(), false);
    QCOMPARE(json["damagedFilesFolder"].toString(),
             "C:\\ZelPos\\ZelUtil.Damaged\\20261210-080600\\");

    const QJsonObject step1 = json["step1"].toObject();
    QCOMPARE(Keys(step1), Sorted({"ok", "posWindow", "lockFiles"}));
    QCOMPARE(step1["ok"].toBool(true), false);
    QCOMPARE(step1["posWindow"].toString(), "still there");
    const QJsonArray locks = step1["lockFiles"].toArray();
    QCOMPARE(locks.size(), 4);
    const QStringList actions{"deleted", "failed", "absent", "reported"};
    for (int i = 0; i < locks.size(); ++i) {
      const QJsonObject lock = locks[i].toObject();
      QCOMPARE(Keys(lock), Sorted({"path", "action", "heldBy"}));
      QCOMPARE(lock["path"].toString(), QString::fromStdString(report.step1.lockFiles[i].path));
      QCOMPARE(lock["action"].toString(), actions[i]);
      QCOMPARE(lock["heldBy"].isNull(), i != 1);
    }
    const QJsonObject holder = locks[1].toObject()["heldBy"].toObject();
    QCOMPARE(Keys(holder), Sorted({"pid", "command"}));
    QCOMPARE(holder["pid"].toInt(), 4242);
    QCOMPARE(holder["command"].toString(), "wineserver --foreground");

    const QJsonArray tables = json["tables"].toArray();
    QCOMPARE(tables.size(), 3);
    for (const auto& table : tables)
      QCOMPARE(Keys(table.toObject()), Sorted({"folder", "table", "indexes", "repair", "skipped", "retested"}));
    const QJsonObject first = tables[0].toObject();
    QCOMPARE(first["folder"].toString(), "PERMDATA");
    QCOMPARE(first["table"].toString(), "DRIVERS");
    QCOMPARE(first["skipped"].toBool(true), false);
    const QJsonArray indexes = first["indexes"].toArray();
    QCOMPARE(indexes.size(), 2);
    QCOMPARE(Keys(indexes[0].toObject()), Sorted({"index", "usable", "error"}));
    QCOMPARE(indexes[0]["index"].toString("x"), "");
    QCOMPARE(indexes[0]["usable"].toBool(true), false);
    const QJsonObject error = indexes[0]["error"].toObject();
    QCOMPARE(Keys(error), Sorted({"code", "text", "file"}));
    QCOMPARE(error["code"].toInt(), 0x2301);
    QCOMPARE(error["text"].toString(), "Corrupt table/index header");
    QCOMPARE(error["file"].toString(), "C:\\ZELPOS\\PERMDATA\\DRIVERS.DB");
    QVERIFY(indexes[1]["error"].toObject()["code"].isNull());  // not an engine error
    const QJsonObject repair = first["repair"].toObject();
    QCOMPARE(Keys(repair), Sorted({"kind", "outcome", "generation", "savedTo", "salvage",
                                   "keptFiles", "touchedFiles", "manifest", "lostByRestore"}));
    QCOMPARE(repair["kind"].toString(), "restore");
    const QJsonArray kept = repair["keptFiles"].toArray();
    QCOMPARE(kept.size(), 1);
    QCOMPARE(Keys(kept[0].toObject()), Sorted({"name", "path"}));
    QCOMPARE(kept[0]["name"].toString(), "DRIVERS.DB");
    QCOMPARE(repair["touchedFiles"].toArray().size(), 2);
    const QJsonArray manifest = repair["manifest"].toArray();
    QCOMPARE(manifest.size(), 2);
    QCOMPARE(Keys(manifest[1].toObject()), Sorted({"name", "size", "sha256"}));
    QCOMPARE(manifest[1]["name"].toString(), "DRIVERS.PX");
    QCOMPARE(manifest[1]["size"].toInt(), 2048);
    QCOMPARE(manifest[1]["sha256"].toString(), QString(64, 'b'));
    const QJsonObject lost = repair["lostByRestore"].toObject();
    QCOMPARE(Keys(lost), Sorted({"onlyDamaged", "differing", "onlyBackup", "path"}));
    QCOMPARE(lost["onlyDamaged"].toInt(), 5);
    QCOMPARE(lost["differing"].toInt(), 2);
    QCOMPARE(lost["onlyBackup"].toInt(), 1);
    QCOMPARE(repair["outcome"].toString(), "usable");
    QCOMPARE(repair["generation"].toString(), "3");
    const QJsonObject salvage = repair["salvage"].toObject();
    QCOMPARE(Keys(salvage),
             Sorted({"recovered", "outsideChain", "dropped", "unreadableBlocks", "path"}));
    QCOMPARE(salvage["recovered"].toInt(), 118);
    QCOMPARE(salvage["outsideChain"].toInt(), 28);
    QCOMPARE(salvage["dropped"].toInt(), 2);
    QCOMPARE(salvage["unreadableBlocks"].toInt(), 1);
    QCOMPARE(salvage["path"].toString(),
             "C:\\ZelPos\\ZelUtil.Damaged\\20261210-080600\\PERMDATA\\Salvaged\\DRIVERS.DB");
    QCOMPARE(repair["savedTo"].toString(),
             "C:\\ZelPos\\ZelUtil.Damaged\\20261210-080600\\PERMDATA\\");

    const QJsonObject second = tables[1].toObject();
    QCOMPARE(second["indexes"].toArray()[0].toObject()["error"].type(), QJsonValue::Null);
    QCOMPARE(second["repair"]["kind"].toString(), "new-empty");
    QCOMPARE(second["repair"]["outcome"].toString(), "unusable");
    QCOMPARE(second["repair"]["generation"].type(), QJsonValue::Null);
    QCOMPARE(second["repair"]["savedTo"].type(), QJsonValue::Null);
    QCOMPARE(second["repair"]["lostByRestore"].type(), QJsonValue::Null);
    QCOMPARE(second["repair"]["keptFiles"].toArray().size(), 0);

    // Read back, the report gives the technician's commands what they work from.
    const zr::RunReport back = zr::ParseReport(text, "report.json");
    QCOMPARE(back.tables.size(), std::size_t{3});
    QVERIFY(back.tables[0].repair && back.tables[0].repair->lostByRestore);
    QCOMPARE(back.tables[0].repair->lostByRestore->onlyDamaged, std::uint64_t{5});
    QCOMPARE(back.tables[0].repair->keptFiles[0].path, restored.repair->keptFiles[0].path);
    QCOMPARE(back.tables[0].repair->manifest[1].sha256, std::string(64, 'b'));
    QCOMPARE(back.tables[0].repair->touchedFiles, restored.repair->touchedFiles);
    QVERIFY(back.tables[0].repair->salvage);
    QCOMPARE(back.tables[0].repair->salvage->recovered, std::uint64_t{118});
    QCOMPARE(*back.damagedFilesFolder, *report.damagedFilesFolder);
    QVERIFY(!back.tables[2].repair && back.tables[2].skipped);
    QCOMPARE(second["repair"]["salvage"].type(), QJsonValue::Null);

    const QJsonObject third = tables[2].toObject();
    QCOMPARE(third["skipped"].toBool(), true);
    QCOMPARE(third["indexes"].toArray().size(), 0);
    QCOMPARE(third["repair"].type(), QJsonValue::Null);
  }

  // A report with nothing filled in is still a whole document.
  void emptyReport() {
    const QJsonObject json = Parse(zr::ReportDocument({}));
    QCOMPARE(json["step1"]["posWindow"].toString(), "absent");
    QCOMPARE(json["tables"].toArray().size(), 0);
    QCOMPARE(json["damagedFilesFolder"].type(), QJsonValue::Null);
  }

  // Names read from a station's files may hold bytes that are not UTF-8: still valid JSON.
  void invalidUtf8InAName() {
    zr::RunReport report;
    report.till = "Till \xE9\xFF";
    const QJsonObject json = Parse(zr::ReportDocument(report));
    QVERIFY(json["till"].toString().startsWith("Till "));
  }

  void isoTime_data() {
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("expected");
    QTest::newRow("UTC") << QByteArray("UTC") << "2026-12-10T17:22:19+00:00";
    QTest::newRow("east, half hour") << QByteArray("Asia/Kolkata") << "2026-12-10T22:52:19+05:30";
    QTest::newRow("west") << QByteArray("America/New_York") << "2026-12-10T12:22:19-05:00";
    QTest::newRow("day before") << QByteArray("Pacific/Honolulu") << "2026-12-10T07:22:19-10:00";
  }
  void isoTime() {
    QFETCH(QByteArray, zone);
    QFETCH(QString, expected);
    const TimeZone tz(zone.constData());
    QCOMPARE(QString::fromStdString(zr::IsoTime(Utc(2026, 12, 10, 17, 22, 19))), expected);
  }

  void windowsPath_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected");
    QTest::newRow("data file") << "/p/drive_c/ZELPOS/TEMPDATA/ATTLOG.DB"
                               << "C:\\ZELPOS\\TEMPDATA\\ATTLOG.DB";
    QTest::newRow("root file") << "/p/drive_c/PDOXUSRS.NET"
                               << "C:\\PDOXUSRS.NET";
    QTest::newRow("dot dot inside") << "/p/drive_c/ZELPOS/../ZELPOS/X.DB"
                                    << "C:\\ZELPOS\\X.DB";
    QTest::newRow("outside") << "/elsewhere/X.DB"
                             << "/elsewhere/X.DB";
    QTest::newRow("sibling prefix") << "/p/drive_cc/X.DB"
                                    << "/p/drive_cc/X.DB";
    QTest::newRow("drive itself") << "/p/drive_c"
                                  << "C:\\";
  }
  void windowsPath() {
    QFETCH(QString, host);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(zr::WindowsPathOf(host.toStdString(), "/p/drive_c")), expected);
  }

  void reportNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ours");
    QTest::newRow("plain") << "20261210-172219.json" << true;
    QTest::newRow("suffix") << "20261210-172219-2.json" << true;
    QTest::newRow("suffix 12") << "20261210-172219-12.json" << true;
    QTest::newRow("empty suffix") << "20261210-172219-.json" << false;
    QTest::newRow("other json") << "notes.json" << false;
    QTest::newRow("short") << "2026121-172219.json" << false;
    QTest::newRow("letters") << "2026121x-172219.json" << false;
    QTest::newRow("other extension") << "20261210-172219.txt" << false;
    QTest::newRow("temporary") << ".20261210-172219.json.zeltmp-abc123" << false;
  }
  void reportNames() {
    QFETCH(QString, name);
    QFETCH(bool, ours);
    QCOMPARE(zr::IsReportName(name.toStdString()), ours);
  }

  // Runs started in the same second get names of their own; none overwrites another.
  void sameSecond() {
    const TimeZone tz("UTC");
    QTemporaryDir dir;
    const auto started = Utc(2026, 12, 10, 17, 22, 19);
    QStringList names;
    for (int run = 1; run <= 3; ++run)
      names << QString::fromStdString(
          zr::PublishReport(dir.path().toStdString(), started, "run " + std::to_string(run))
              .filename()
              .string());
    QCOMPARE(names, QStringList({"20261210-172219.json", "20261210-172219-2.json",
                                 "20261210-172219-3.json"}));
    for (int run = 1; run <= 3; ++run) {
      QFile file(dir.filePath(names[run - 1]));
      QVERIFY(file.open(QIODevice::ReadOnly));
      QCOMPARE(file.readAll(), QByteArray("run ") + QByteArray::number(run));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);  // no temporary
  }

  // A later write of the same run replaces the file whole; nothing else is left.
  void rewrite() {
    QTemporaryDir dir;
    const std::string file = dir.filePath("r.json").toStdString();
    zr::WriteReport(file, "first");
    zr::WriteReport(file, "second, longer");
    QFile written(QString::fromStdString(file));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("second, longer"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"r.json"});
    QCOMPARE(QFileInfo(written).permissions() & QFile::ReadOther, QFile::ReadOther);
  }

  // Failures name the file or folder, leave nothing behind and create no missing parent.
  void failures() {
    QTemporaryDir dir;
    const QString notAFolder = dir.filePath("ZelUtil.Reports");
    WriteText(notAFolder, "in the way");
    try {
      zr::EnsureReportFolder(notAFolder.toStdString());
      QFAIL("a file in the folder's place was accepted");
    } catch (const zr::ReportError& error) {
      QVERIFY2(QString(error.what()).contains(notAFolder), error.what());
    }
    const QString missingParent = dir.filePath("ZelPos/ZelUtil.Reports");
    QVERIFY_THROWS_EXCEPTION(zr::ReportError, zr::EnsureReportFolder(missingParent.toStdString()));
    QVERIFY(!QFileInfo::exists(dir.filePath("ZelPos")));  // never created

    const QString inMissingFolder = dir.filePath("gone/r.json");
    try {
      zr::WriteReport(inMissingFolder.toStdString(), "x");
      QFAIL("a write into a missing folder succeeded");
    } catch (const zr::ReportError& error) {
      QVERIFY2(QString(error.what()).contains(inMissingFolder), error.what());
    }
    const QString underAFile = notAFolder + "/r.json";
    QVERIFY_THROWS_EXCEPTION(zr::ReportError, zr::WriteReport(underAFile.toStdString(), "x"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"ZelUtil.Reports"});

    // An existing folder is fine, and making it again changes nothing.
    const QString folder = dir.filePath("Reports");
    zr::EnsureReportFolder(folder.toStdString());
    zr::EnsureReportFolder(folder.toStdString());
    QVERIFY(QFileInfo(folder).isDir());
  }

  // 101 reports -> the newest 100 by modification time, whatever their names say; other files
  // stay, temporary files of a cut-short write go.
  void rotation() {
    QTemporaryDir dir;
    const std::time_t base = 1700000000;
    QStringList all;
    for (int i = 0; i < 101; ++i) {
      // Names run against the times: the oldest file has the latest name.
      const QString name = QString("20260101-%1.json").arg(200000 - i, 6, 10, QChar('0'));
      WriteText(dir.filePath(name), "{}");
      SetModified(dir.filePath(name), base + i * 60);
      all << name;
    }
    WriteText(dir.filePath("notes.txt"), "mine");
    SetModified(dir.filePath("notes.txt"), base - 100000);
    WriteText(dir.filePath("old.json"), "{}");
    SetModified(dir.filePath("old.json"), base - 100000);
    WriteText(dir.filePath(".20260101-000000.json.zeltmp-Ab12Cd"), "half");

    QCOMPARE(zr::KeepNewestReports(dir.path().toStdString()), std::size_t(1));
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QCOMPARE(left.size(), 102);
    QVERIFY(!left.contains(all.first()));  // the oldest by time
    for (int i = 1; i < 101; ++i) QVERIFY(left.contains(all[i]));
    QVERIFY(left.contains("notes.txt") && left.contains("old.json"));

    // At the limit nothing more goes.
    QCOMPARE(zr::KeepNewestReports(dir.path().toStdString()), std::size_t(0));
    QCOMPARE(zr::KeepNewestReports(dir.path().toStdString(), 10), std::size_t(90));
    QVERIFY(QFileInfo::exists(dir.filePath(all.last())));
  }

  // Links: one in the folder's place is an error naming the folder; rotation never follows one
  // (the folder's place or in it) and never removes anything through one.
  void linksAreNeverFollowed_data() {
    QTest::addColumn<bool>("folderIsLink");
    QTest::newRow("link in the folder's place") << true;
    QTest::newRow("links inside the folder") << false;
  }
  void linksAreNeverFollowed() {
    QFETCH(bool, folderIsLink);
    QTemporaryDir dir, decoys;
    const std::time_t base = 1700000000;
    // The decoy folder holds what rotation would remove: 3 old reports and a temporary file.
    for (int i = 0; i < 3; ++i) {
      const QString name = QString("20200101-00000%1.json").arg(i);
      WriteText(decoys.filePath(name), "decoy");
      SetModified(decoys.filePath(name), base - 1000 + i);
    }
    WriteText(decoys.filePath(".20200101-000000.json.zeltmp-Ab12Cd"), "decoy");
    const QString folder = dir.filePath("ZelUtil.Reports");
    if (folderIsLink) {
      QVERIFY(QFile::link(decoys.path(), folder));
      try {
        zr::EnsureReportFolder(folder.toStdString());
        QFAIL("a link in the folder's place was accepted");
      } catch (const zr::ReportError& error) {
        QVERIFY2(QString(error.what()).contains(folder), error.what());
        QVERIFY2(QString(error.what()).contains("symbolic link"), error.what());
      }
      QCOMPARE(zr::KeepNewestReports(folder.toStdString(), 1), std::size_t(0));
    } else {
      zr::EnsureReportFolder(folder.toStdString());
      for (int i = 0; i < 3; ++i) {
        const QString name = QString("20200101-00000%1.json").arg(i);
        QVERIFY(QFile::link(decoys.filePath(name), folder + "/" + name));
      }
      QVERIFY(QFile::link(decoys.filePath(".20200101-000000.json.zeltmp-Ab12Cd"),
                          folder + "/.20200101-000000.json.zeltmp-Ab12Cd"));
      QVERIFY(QFile::link(decoys.path(), folder + "/20200101-000009.json"));
      WriteText(folder + "/20260101-000000.json", "{}");
      WriteText(folder + "/20260101-000001.json", "{}");
      SetModified(folder + "/20260101-000000.json", base);
      SetModified(folder + "/20260101-000001.json", base + 1);
      // Only the one real report beyond the newest goes; the links stay as they are.
      QCOMPARE(zr::KeepNewestReports(folder.toStdString(), 1), std::size_t(1));
      QVERIFY(!QFileInfo::exists(folder + "/20260101-000000.json"));
      QCOMPARE(QDir(folder)
                   .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                   .size(),
               6);
    }
    QCOMPARE(QDir(decoys.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);
  }

  void exitStatus_data() {
    QTest::addColumn<bool>("checkOnly");
    QTest::addColumn<bool>("errorEnded");
    QTest::addColumn<bool>("stepOk");
    QTest::addColumn<int>("unusable");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("status");
    QTest::newRow("all usable") << false << false << true << 0 << 0 << 0;
    QTest::newRow("skipped") << false << false << true << 0 << 3 << 1;
    QTest::newRow("unusable") << false << false << true << 1 << 0 << 1;
    QTest::newRow("step 1") << false << false << false << 0 << 0 << 2;
    QTest::newRow("error") << false << true << false << 0 << 0 << 3;
    QTest::newRow("check, usable") << true << false << false << 0 << 0 << 0;
    QTest::newRow("check, unusable") << true << false << false << 2 << 0 << 1;
  }
  void exitStatus() {
    QFETCH(bool, checkOnly);
    QFETCH(bool, errorEnded);
    QFETCH(bool, stepOk);
    QFETCH(int, unusable);
    QFETCH(int, skipped);
    QFETCH(int, status);
    QCOMPARE(checkOnly ? zr::CheckOnlyExitStatus(errorEnded, unusable)
                       : zr::RunExitStatus(errorEnded, stepOk, unusable, skipped),
             status);
  }
};

QTEST_GUILESS_MAIN(ReportWriterTest)
#include "tst_report_writer.moc"
