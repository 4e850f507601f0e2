// The history of a till's reports: what each report says, the order, the tables that keep
// breaking, and the files that cannot be read (cut short, links, FIFOs, too large).
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <nlohmann/json.hpp>

#include "technician/History.h"
#include "technician/HistoryFolders.h"

namespace zt = zel::technician;
using Json = nlohmann::ordered_json;

namespace {

// A table of a report: "usable", "unusable" (first test failed, no repair: a check), or the
// repair's kind with its outcome ("reindex", "new-empty", "restore", "restore-failed"), or
// "skipped".
Json Table(const std::string& folder, const std::string& table, const std::string& state) {
  const bool failed = state != "usable" && state != "skipped";
  Json repair = nullptr;
  if (failed && state != "unusable")
    repair = {{"kind", state == "restore-failed" ? "restore" : state},
              {"outcome", state == "restore-failed" ? "unusable" : "usable"},
              {"generation", nullptr},
              {"savedTo", nullptr},
              {"salvage", nullptr}};
  Json indexes = Json::array();
  if (state != "skipped")
    indexes.push_back({{"index", ""}, {"usable", !failed}, {"error", nullptr}});
  return {{"folder", folder},
          {"table", table},
          {"indexes", indexes},
          {"repair", repair},
          {"skipped", state == "skipped"},
          {"retested", false}};
}

std::string Report(const std::string& started, const std::string& kind, int exitStatus,
                   const Json& tables) {
  return Json{{"schema", 2},
              {"kind", kind},
              {"program", "zelutil-console"},
              {"started", started},
              {"exitStatus", exitStatus},
              {"checkOnly", kind == "check"},
              {"tables", tables}}
      .dump(2);
}

zt::ReportSource Source(const std::string& path, const std::string& bytes) {
  return {path, bytes, {}};
}

}  // namespace

class HistoryTest : public QObject {
  Q_OBJECT

 private slots:
  // Counts per report and the newest-first order by the time itself, not by its text: a report
  // written an hour later in another offset sorts after.
  void entriesNewestFirst() {
    const Json tables = Json::array(
        {Table("TEMPDATA", "PUMPSALE", "new-empty"), Table("CONFIGDATA", "GRADE", "reindex"),
         Table("PERMDATA", "STOCK", "restore"), Table("PERMDATA", "DRIVERS", "restore-failed"),
         Table("PERMDATA", "TANKS", "skipped"), Table("DISPDATA", "DISP", "usable")});
    const zt::History history = zt::MakeHistory(
        {Source("a.json", Report("2026-12-10T05:00:00+01:00", "run", 1, tables)),
         Source("b.json", Report("2026-12-10T04:30:00+00:00", "check", 0,
                                 Json::array({Table("DISPDATA", "DISP", "usable")})))});
    QCOMPARE(history.entries.size(), std::size_t(2));
    QCOMPARE(history.entries[0].path, std::string("b.json"));  // 04:30 UTC after 04:00 UTC
    const zt::HistoryEntry& run = history.entries[1];
    QCOMPARE(run.kind, std::string("run"));
    QCOMPARE(run.exitStatus, 1);
    QCOMPARE(run.tested, 5);
    QCOMPARE(run.unusable, 1);
    QCOMPARE(run.repaired, 1);
    QCOMPARE(run.replaced, 1);
    QCOMPARE(run.restored, 1);
    QCOMPARE(run.needingRepair, (std::vector<std::string>{"TEMPDATA\\PUMPSALE", "CONFIGDATA\\GRADE",
                                                          "PERMDATA\\STOCK", "PERMDATA\\DRIVERS"}));
    const std::string text = zt::HistoryText(history);
    QVERIFY2(
        text.find("2026-12-10T05:00:00+01:00  run    exit 1  tested 5  unusable 1  repaired 1  "
                  "replaced 1  restored 1  a.json\n") != std::string::npos,
        text.c_str());
    QVERIFY(text.rfind("2026-12-10T04:30:00+00:00  check  exit 0", 0) == 0);
  }

  // More than one of the last ten runs: checks do not count (the run after a check repairs the
  // same breakage), nor do runs older than the last ten.
  void keepsBreaking() {
    std::vector<zt::ReportSource> sources;
    const auto at = [](int day) {
      return QString("2026-11-%1T05:00:00+00:00").arg(day, 2, 10, QChar('0')).toStdString();
    };
    // Days 1-3: GRADE repaired in old runs, outside the last ten.
    for (int day = 1; day <= 3; ++day)
      sources.push_back(Source(
          "old" + std::to_string(day),
          Report(at(day), "run", 0, Json::array({Table("CONFIGDATA", "GRADE", "reindex")}))));
    // Days 4-13: ten runs; PUMPSALE replaced in two, STOCK restored in one.
    for (int day = 4; day <= 13; ++day) {
      Json tables = Json::array({Table("CONFIGDATA", "GRADE", "usable")});
      if (day == 5 || day == 12) tables.push_back(Table("TEMPDATA", "PUMPSALE", "new-empty"));
      if (day == 8) tables.push_back(Table("PERMDATA", "STOCK", "restore"));
      sources.push_back(Source("run" + std::to_string(day), Report(at(day), "run", 0, tables)));
      // Each check finds STOCK unusable: never counted.
      sources.push_back(Source("check" + std::to_string(day),
                               Report(at(day).replace(11, 2, "04"), "check", 1,
                                      Json::array({Table("PERMDATA", "STOCK", "unusable")}))));
    }
    const zt::History history = zt::MakeHistory(sources);
    QCOMPARE(history.runsCounted, std::size_t(10));
    QCOMPARE(history.keepsBreaking.size(), std::size_t(1));
    QCOMPARE(history.keepsBreaking[0].table, std::string("TEMPDATA\\PUMPSALE"));
    QCOMPARE(history.keepsBreaking[0].runs, 2);
    const std::string text = zt::HistoryText(history);
    QVERIFY2(text.find("\nkeeps breaking: TEMPDATA\\PUMPSALE needed a repair in 2 of the last 10 "
                       "runs\n") != std::string::npos,
             text.c_str());
    const Json json = Json::parse(zt::HistoryJson(history));
    QCOMPARE(json["keepsBreaking"][0]["runs"].get<int>(), 2);
    QCOMPARE(json["reports"].size(), std::size_t(23));
    QCOMPARE(json["runsCounted"].get<int>(), 10);
  }

  // Files that are no run report are listed with the reason, never dropped; text from a file
  // never reaches the terminal unescaped.
  void unreadableReports_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const std::string whole = Report("2026-12-10T05:00:00+01:00", "run", 0, Json::array());
    QTest::newRow("cut short") << QByteArray::fromStdString(whole.substr(0, whole.size() / 2))
                               << "not a complete report";
    QTest::newRow("empty") << QByteArray() << "empty file";
    QTest::newRow("another document")
        << QByteArray("{\"hello\": 1}") << "not a run report (no \"schema\")";
    QTest::newRow("bad time") << QByteArray::fromStdString(
                                     Report("yesterday", "run", 0, Json::array()))
                              << "not a run report (\"started\" is not a time)";
    QTest::newRow("table without indexes")
        << QByteArray::fromStdString(
               Report("2026-12-10T05:00:00+01:00", "run", 0,
                      Json::array({{{"folder", "A"}, {"table", "B"}, {"skipped", false}}})))
        << "not a run report (no \"indexes\")";
  }
  void unreadableReports() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const zt::History history =
        zt::MakeHistory({Source("C:\\R\\x\x1b[2J.json", bytes.toStdString())});
    QCOMPARE(history.entries.size(), std::size_t(0));
    QCOMPARE(history.unreadable.size(), std::size_t(1));
    QVERIFY2(QString::fromStdString(history.unreadable[0].reason).startsWith(reason),
             history.unreadable[0].reason.c_str());
    const std::string text = zt::HistoryText(history);
    QVERIFY(text.rfind("unreadable: C:\\R\\x\\x1B[2J.json: " + reason.toStdString(), 0) == 0);
    QVERIFY(text.find('\x1b') == std::string::npos);
    QVERIFY(Json::parse(zt::HistoryJson(history))["unreadable"][0]["reason"].is_string());
  }

  // A report of the first schema has no "kind": checkOnly tells it.
  void firstSchemaReports() {
    Json old = Json::parse(Report("2026-01-02T03:04:05-05:00", "check", 1, Json::array()));
    old.erase("kind");
    old["schema"] = 1;
    std::string reason;
    const auto entry = zt::ReadHistoryEntry(Source("old.json", old.dump()), reason);
    QVERIFY2(entry, reason.c_str());
    QCOMPARE(entry->kind, std::string("check"));
    QCOMPARE(entry->startedAt.time_since_epoch().count(),
             (std::chrono::sys_days(std::chrono::year(2026) / 1 / 2) + std::chrono::hours(8) +
              std::chrono::minutes(4) + std::chrono::seconds(5))
                 .time_since_epoch()
                 .count());
  }

  // A folder's files as the run-as-root rules read them: reports by name, a link, a FIFO, a
  // folder in a report's place and a file beyond the cap each listed with the reason, other
  // names and temporary files left out; a missing folder said as such.
  void folderReading() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto write = [&](const QString& name, const QByteArray& bytes) {
      QFile file(dir.filePath(name));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(bytes);
    };
    const std::string good = Report("2026-12-10T05:00:00+01:00", "run", 0, Json::array());
    write("20261210-050000.json", QByteArray::fromStdString(good));
    write("notes.txt", "x");
    write(".zeltmp-1-2-20261210-050001.json", "{");
    write("secret", QByteArray::fromStdString(good));
    QVERIFY(QFile::link(dir.filePath("secret"), dir.filePath("20261210-050002.json")));
    QVERIFY(::mkfifo(dir.filePath("20261210-050003.json").toLocal8Bit().constData(), 0600) == 0);
    QVERIFY(QDir(dir.path()).mkdir("20261210-050004.json"));
    write("20261210-050005.json", QByteArray(int(zt::kReportSizeCap) + 1, ' '));

    const zt::FolderReports found =
        zt::ReadReportFolder(dir.path().toStdString(), "C:\\R", '\\', zt::ReportNames::RunReports);
    QVERIFY(found.exists);
    QVERIFY(found.problem.empty());
    std::vector<std::pair<std::string, std::string>> listed;
    for (const zt::ReportSource& source : found.sources)
      listed.emplace_back(source.path, source.reason);
    QCOMPARE(listed, (std::vector<std::pair<std::string, std::string>>{
                         {"C:\\R\\20261210-050000.json", ""},
                         {"C:\\R\\20261210-050002.json", "a link, not followed"},
                         {"C:\\R\\20261210-050003.json", "not a regular file"},
                         {"C:\\R\\20261210-050004.json", "not a regular file"},
                         {"C:\\R\\20261210-050005.json", "larger than 4 MiB, not a run report"}}));
    QCOMPARE(found.sources[0].bytes, good);

    // Any JSON name in a check folder; a link in the folder's place is not followed.
    QCOMPARE(zt::ReadReportFolder(dir.path().toStdString(), dir.path().toStdString(), '/',
                                  zt::ReportNames::AnyJson)
                 .sources.size(),
             std::size_t(5));
    QVERIFY(QFile::link(dir.path(), dir.path() + "-link"));
    const zt::FolderReports linked = zt::ReadReportFolder((dir.path() + "-link").toStdString(), "L",
                                                          '/', zt::ReportNames::AnyJson);
    QFile::remove(dir.path() + "-link");
    QVERIFY(!linked.problem.empty());
    QVERIFY(linked.sources.empty());
    const zt::FolderReports missing = zt::ReadReportFolder(dir.filePath("none").toStdString(), "N",
                                                           '/', zt::ReportNames::AnyJson);
    QVERIFY(!missing.exists);
    QVERIFY(missing.problem.empty());
  }
};

QTEST_GUILESS_MAIN(HistoryTest)
#include "tst_history.moc"
