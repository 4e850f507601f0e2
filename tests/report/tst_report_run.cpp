// Whole runs of zelutil-console on demo stations and the reports they leave: every kind of
// repair key by key, a failed Step 1 with a lock held by a live process, a run ended by the
// error box, rotation, a report that cannot be written, and check-only runs that change nothing.
// Power-off is always simulated; no display and no system bus are used.
#include <unistd.h>
#include <utime.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>
#include <sstream>

#include "catalogue/Catalogue.h"
#include "engine/EngineError.h"
#include "engine/Verifier.h"
#include "platform/DriveMapping.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DemoStations.h"
#include "tests/support/TreeSnapshot.h"
#include "zel/Version.h"

namespace {

struct Result {
  int status = -1;
  QString out;
  QString err;
};

Result RunConsole(const QString& prefix, const QStringList& args) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("WINEPREFIX", prefix);
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + prefix + "/no-system-bus");
  process.setProcessEnvironment(env);
  process.start(ZEL_CONSOLE, args);
  process.closeWriteChannel();
  if (!process.waitForFinished(240000)) process.kill();
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput()),
          QString::fromUtf8(process.readAllStandardError())};
}

// Builds a demo station in `prefix`; the error text, empty when it was built.
QString Build(const QString& prefix, const QStringList& damages = {}) {
  return zel::test::BuildDemoStation(prefix, damages);
}

QString Host(const QString& prefix, const std::string& windowsPath) {
  qputenv("WINEPREFIX", prefix.toLocal8Bit());
  return QString::fromStdString(zel::platform::MapWindowsPath(windowsPath).string());
}

QString ReportFolder(const QString& prefix) {
  return Host(prefix, "C:\\ZelPos\\ZelUtil.Reports");
}

QStringList Reports(const QString& prefix) {
  return QDir(ReportFolder(prefix)).entryList({"*.json"}, QDir::Files, QDir::Name);
}

QJsonObject ReadJson(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(file.readAll()).object();
}

// The only report in the station's folder.
QJsonObject OnlyReport(const QString& prefix) {
  const QStringList reports = Reports(prefix);
  if (reports.size() != 1) {
    qWarning("%lld reports in %s", qlonglong(reports.size()), qPrintable(ReportFolder(prefix)));
    return {};
  }
  return ReadJson(ReportFolder(prefix) + "/" + reports[0]);
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

QString Q(std::string_view s) {
  return QString::fromLatin1(s.data(), int(s.size()));
}

// The folder as the run's lines name it.
QString ListFolder(std::string_view folder) {
  return folder == "HISTORY" ? QString("History") : Q(folder);
}

QStringList TestedIndexes(const zel::catalogue::TableEntry& entry) {
  QStringList indexes{""};
  for (auto named : entry.namedIndexes)
    if (!named.empty()) indexes << Q(named);
  return indexes;
}

QStringList LockFilesInOrder() {
  QStringList paths{"C:\\PDOXUSRS.NET"};
  for (auto folder : zel::catalogue::LockResetOrder())
    for (const char* name : {"PARADOX.LCK", "PDOXUSRS.LCK"})
      paths << "C:\\ZELPOS\\" + Q(folder) + "\\" + name;
  return paths;
}

const QRegularExpression kIsoTime("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$");

QString OwnCommandLine() {
  QFile file("/proc/self/cmdline");
  if (!file.open(QIODevice::ReadOnly)) return {};
  QByteArray bytes = file.readAll();
  while (bytes.endsWith('\0')) bytes.chop(1);
  bytes.replace('\0', ' ');
  return QString::fromLocal8Bit(bytes);
}

// The keys every report has, and those of step1 and of each lock file.
void CheckShape(const QJsonObject& report) {
  QCOMPARE(Keys(report), Sorted({"schema", "kind", "program", "version", "started", "finished",
                                 "till", "masterTill", "exitStatus", "checkOnly", "step1", "tables",
                                 "damagedFilesFolder", "tablesInUse"}));
  QCOMPARE(report["schema"].toInt(), 3);
  QCOMPARE(report["kind"].toString(), QString(report["checkOnly"].toBool() ? "check" : "run"));
  // Only a check looks at whether a live process uses the tables while it tests them.
  QCOMPARE(report["tablesInUse"].isBool(), report["checkOnly"].toBool());
  QCOMPARE(report["program"].toString(), "zelutil-console");
  QCOMPARE(report["version"].toString(), QString(zel::kVersion));
  QVERIFY2(kIsoTime.match(report["started"].toString()).hasMatch(),
           qPrintable(report["started"].toString()));
  QVERIFY(kIsoTime.match(report["finished"].toString()).hasMatch());
  QVERIFY(report["started"].toString() <= report["finished"].toString());
  QCOMPARE(Keys(report["step1"].toObject()), Sorted({"ok", "posWindow", "lockFiles"}));
  const QJsonArray locks = report["step1"]["lockFiles"].toArray();
  QCOMPARE(locks.size(), 11);
  const QStringList paths = LockFilesInOrder();
  for (int i = 0; i < locks.size(); ++i) {
    QCOMPARE(Keys(locks[i].toObject()), Sorted({"path", "action", "heldBy"}));
    QCOMPARE(locks[i]["path"].toString(), paths[i]);
  }
}

// What the engine's verifier says of a table's files under each index the run tests.
struct Verdict {
  QString index;
  std::optional<int> code;  // none: usable
  QString file;
};
QList<Verdict> VerifierSays(const QString& prefix, std::string_view folder,
                            std::string_view table) {
  const auto* entry = zel::catalogue::FindEntry(folder, table);
  const std::string db = "C:\\ZELPOS\\" + std::string(folder) + "\\" + std::string(table) + ".DB";
  QList<Verdict> verdicts;
  for (const QString& index : TestedIndexes(*entry)) {
    Verdict verdict{index, std::nullopt, {}};
    try {
      zel::engine::VerifyTable(Host(prefix, db).toStdString(), index.toStdString());
    } catch (const zel::engine::EngineError& error) {
      verdict.code = error.Code();
      const QString driveC = prefix + "/drive_c/";
      verdict.file = QString::fromStdString(error.File());
      if (verdict.file.startsWith(driveC))
        verdict.file = "C:\\" + verdict.file.mid(driveC.size()).replace('/', '\\');
    }
    verdicts << verdict;
  }
  return verdicts;
}

}  // namespace

class ReportRunTest : public QObject {
  Q_OBJECT

  QTemporaryDir healthy_;  // a healthy station, shared by the tests that only add to its reports
  QString healthyError_;

  bool HealthyStation() {
    if (healthyError_.isEmpty() && !QDir(healthy_.path() + "/drive_c").exists())
      healthyError_ = Build(healthy_.path());
    return healthyError_.isEmpty();
  }

 private slots:
  // Stale locks and one table for each kind of repair; the report checked key by key, each
  // table's first test against what the verifier said of the same files before the run.
  void repairsOfEveryKind() {
    QTemporaryDir prefix;
    const QString error = Build(
        prefix.path(), {"stale-locks", "px-missing:DISPDATA/DISPLAY", "db-header:TEMPDATA/PUMPSALE",
                        "px-missing:PERMDATA/STOCK", "db-header:PERMDATA/DRIVERS"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    struct Expected {
      const char* folder;
      const char* table;
      const char* kind;
      const char* generation;  // null: none
      bool saved;
    };
    const QList<Expected> repaired{{"DISPDATA", "DISPLAY", "reindex", nullptr, false},
                                   {"TEMPDATA", "PUMPSALE", "new-empty", nullptr, true},
                                   {"PERMDATA", "STOCK", "reindex", nullptr, false},
                                   {"PERMDATA", "DRIVERS", "restore", "3", true}};
    QMap<QString, QList<Verdict>> before;
    for (const Expected& e : repaired)
      before.insert(QString(e.folder) + "\\" + e.table,
                    VerifierSays(prefix.path(), e.folder, e.table));

    const Result r = RunConsole(prefix.path(), {"--yes", "--simulate-power-off"});
    QVERIFY2(r.status == 0, qPrintable(r.out.right(1500) + r.err));
    const QStringList files = Reports(prefix.path());
    QCOMPARE(files.size(), 1);
    const QJsonObject report = ReadJson(ReportFolder(prefix.path()) + "/" + files[0]);
    CheckShape(report);
    // Named by the time the run started, in local time.
    const QString started = report["started"].toString();
    QCOMPARE(files[0], QString(started.left(10)).remove('-') + "-" +
                           QString(started.mid(11, 8)).remove(':') + ".json");
    QCOMPARE(report["till"].toString(), "FC  1 - A");
    QCOMPARE(report["masterTill"].toBool(), true);
    QCOMPARE(report["exitStatus"].toInt(), 0);
    QCOMPARE(report["checkOnly"].toBool(true), false);
    const QJsonObject step1 = report["step1"].toObject();
    QCOMPARE(step1["ok"].toBool(), true);
    QCOMPARE(step1["posWindow"].toString(), "absent");
    for (const QJsonValue lock : step1["lockFiles"].toArray()) {
      QCOMPARE(lock["action"].toString(), "deleted");
      QVERIFY(lock["heldBy"].isNull());
    }

    const QString damagedFolder = report["damagedFilesFolder"].toString();
    QVERIFY2(QRegularExpression("^C:\\\\ZelPos\\\\ZelUtil\\.Damaged\\\\\\d{8}-\\d{6}\\\\$")
                 .match(damagedFolder)
                 .hasMatch(),
             qPrintable(damagedFolder));

    const QJsonArray tables = report["tables"].toArray();
    const auto& entries = zel::catalogue::Entries();
    QCOMPARE(tables.size(), qsizetype(entries.size()));
    for (qsizetype i = 0; i < tables.size(); ++i) {
      const QJsonObject table = tables[i].toObject();
      const auto& entry = entries[std::size_t(i)];
      QCOMPARE(Keys(table), Sorted({"folder", "table", "indexes", "repair", "skipped", "retested"}));
      QCOMPARE(table["folder"].toString(), ListFolder(entry.folder));
      QCOMPARE(table["table"].toString(), Q(entry.table));
      QCOMPARE(table["skipped"].toBool(true), false);
      const QJsonArray indexes = table["indexes"].toArray();
      const QStringList tested = TestedIndexes(entry);
      QCOMPARE(indexes.size(), tested.size());
      const QString key = Q(entry.folder) + "\\" + Q(entry.table);
      for (qsizetype n = 0; n < indexes.size(); ++n) {
        const QJsonObject index = indexes[n].toObject();
        QCOMPARE(Keys(index), Sorted({"index", "usable", "error"}));
        QCOMPARE(index["index"].toString(), tested[n]);
        if (!before.contains(key)) {
          QVERIFY2(index["usable"].toBool() && index["error"].isNull(), qPrintable(key));
          continue;
        }
        const Verdict& verdict = before[key][n];
        QCOMPARE(index["usable"].toBool(), !verdict.code.has_value());
        if (!verdict.code) continue;
        const QJsonObject error = index["error"].toObject();
        QCOMPARE(Keys(error), Sorted({"code", "text", "file"}));
        QCOMPARE(error["code"].toInt(), *verdict.code);
        QCOMPARE(error["file"].toString(), verdict.file);
        QVERIFY(!error["text"].toString().isEmpty());
      }
      if (!before.contains(key)) {
        QVERIFY2(table["repair"].isNull(), qPrintable(key));
        continue;
      }
      QVERIFY2(!indexes[0]["usable"].toBool(), qPrintable(key));  // the damage was seen
      const Expected& e = *std::find_if(repaired.begin(), repaired.end(), [&](const Expected& e) {
        return key == QString(e.folder) + "\\" + e.table;
      });
      const QJsonObject repair = table["repair"].toObject();
      QCOMPARE(Keys(repair), Sorted({"kind", "outcome", "generation", "savedTo", "salvage",
                                     "keptFiles", "touchedFiles", "manifest", "lostByRestore"}));
      QCOMPARE(repair["kind"].toString(), e.kind);
      // Every file the repair left is in the manifest with its size; every kept file is there.
      QVERIFY(!repair["touchedFiles"].toArray().isEmpty());
      for (const QJsonValue entry : repair["manifest"].toArray()) {
        const QFileInfo live(Host(
            prefix.path(),
            ("C:\\ZELPOS\\" + QString(e.folder) + "\\" + entry["name"].toString()).toStdString()));
        QVERIFY2(live.exists(), qPrintable(live.filePath()));
        QCOMPARE(live.size(), entry["size"].toInteger());
        QCOMPARE(entry["sha256"].toString().size(), 64);
      }
      for (const QJsonValue kept : repair["keptFiles"].toArray())
        QVERIFY2(QFile::exists(Host(prefix.path(), kept["path"].toString().toStdString())),
                 qPrintable(kept["path"].toString()));
      // A re-index keeps the index files it deletes beside the run's other kept files.
      if (QString(e.kind) == "reindex")
        for (const QJsonValue kept : repair["keptFiles"].toArray())
          QVERIFY(kept["path"].toString().startsWith(damagedFolder + e.folder + "\\Indexes\\"));
      QCOMPARE(repair["outcome"].toString(), "usable");
      if (e.generation)
        QCOMPARE(repair["generation"].toString(), e.generation);
      else
        QVERIFY(repair["generation"].isNull());
      if (e.saved) {
        QCOMPARE(repair["savedTo"].toString(), damagedFolder + e.folder + "\\");
        QVERIFY(QFile::exists(Host(
            prefix.path(), (damagedFolder + e.folder + "\\" + e.table + ".DB").toStdString())));
      } else {
        QVERIFY(repair["savedTo"].isNull());
      }
    }
  }

  // A lock file held by a live process stops Step 1: the report names the process, reports the
  // lock files Step 1 did not come to as they are, and is there before the power-off request.
  void stepOneFailureNamesTheHolder() {
    QTemporaryDir prefix;
    const QString error = Build(prefix.path(), {"stale-locks"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const std::string held = "C:\\ZELPOS\\PERMDATA\\PARADOX.LCK";
    zel::test::LockingChild child(Host(prefix.path(), held).toStdString(),
                                  zel::test::LockingChild::Kind::Fcntl);
    QVERIFY(child.Locked());

    const Result r = RunConsole(prefix.path(), {"--yes", "--simulate-power-off"});
    QCOMPARE(r.status, 2);
    QVERIFY(r.out.endsWith("power-off: 12 simulated\n"));
    const QJsonObject report = OnlyReport(prefix.path());
    CheckShape(report);
    QCOMPARE(report["exitStatus"].toInt(), 2);
    QCOMPARE(report["step1"]["ok"].toBool(true), false);
    QCOMPARE(report["till"].toString(), "FC  1 - A");
    QCOMPARE(report["tables"].toArray().size(), 0);
    QVERIFY(report["damagedFilesFolder"].isNull());
    const QJsonArray locks = report["step1"]["lockFiles"].toArray();
    const QStringList paths = LockFilesInOrder();
    const qsizetype failed = paths.indexOf(QString::fromStdString(held));
    for (qsizetype i = 0; i < locks.size(); ++i) {
      const QString action = locks[i]["action"].toString();
      if (i < failed) {
        QCOMPARE(action, "deleted");
      } else if (i == failed) {
        QCOMPARE(action, "failed");
        const QJsonObject holder = locks[i]["heldBy"].toObject();
        QCOMPARE(Keys(holder), Sorted({"pid", "command"}));
        const int pid = holder["pid"].toInt();
        QVERIFY(pid > 0 && pid != int(::getpid()));
        QVERIFY(QFileInfo::exists(QString("/proc/%1").arg(pid)));
        QCOMPARE(holder["command"].toString(), OwnCommandLine());  // the forked child
      } else {
        QCOMPARE(action, "reported");  // stale, left for the next run
        QVERIFY(locks[i]["heldBy"].isNull());
      }
    }
  }

  // The activity log cannot be written: the error box ends the run, and the report says so.
  void errorBoxEndsTheRun() {
    QTemporaryDir prefix;
    const QString error = Build(prefix.path(), {"stale-locks"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString log = Host(prefix.path(), "C:\\ZelPos\\ZelUtil.Log");
    QFile::remove(log);
    QVERIFY(QDir().mkdir(log));  // a folder where the log file should be
    const Result r = RunConsole(prefix.path(), {"--yes", "--simulate-power-off"});
    QCOMPARE(r.status, 3);
    QVERIFY2(r.out.startsWith("error: "), qPrintable(r.out));
    const QJsonObject report = OnlyReport(prefix.path());
    CheckShape(report);
    QCOMPARE(report["exitStatus"].toInt(), 3);
    QCOMPARE(report["step1"]["ok"].toBool(true), false);
    QCOMPARE(report["tables"].toArray().size(), 0);
    for (const QJsonValue lock : report["step1"]["lockFiles"].toArray())
      QCOMPARE(lock["action"].toString(), "reported");  // nothing was deleted
  }

  // Without C:\ZelPos nothing is created: the report is not written and stderr says where.
  void noPosFolder() {
    QTemporaryDir prefix;
    QVERIFY(QDir().mkpath(prefix.path() + "/drive_c"));
    const Result r = RunConsole(prefix.path(), {"--yes", "--simulate-power-off"});
    QCOMPARE(r.status, 3);
    QCOMPARE(r.out, QString("error: Invalid filename.\n"));
    QVERIFY2(r.err.contains(prefix.path() + "/drive_c/ZelPos/ZelUtil.Reports"), qPrintable(r.err));
    QCOMPARE(QDir(prefix.path() + "/drive_c").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
  }

  // 100 reports there already: after the run the newest 100 are left, the run's own among them.
  void rotation() {
    QVERIFY2(HealthyStation(), qPrintable(healthyError_));
    const QString folder = ReportFolder(healthy_.path());
    QVERIFY(QDir().mkpath(folder));
    for (const QString& old : Reports(healthy_.path())) QFile::remove(folder + "/" + old);
    const time_t base = ::time(nullptr) - 1000000;
    for (int i = 0; i < 100; ++i) {
      // Names say "newer" than any real run, times say older: time decides.
      const QString name = folder + QString("/29990101-%1.json").arg(i, 6, 10, QChar('0'));
      QFile file(name);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.close();
      const utimbuf times{base + i, base + i};
      QVERIFY(::utime(QFile::encodeName(name).constData(), &times) == 0);
    }
    const Result r = RunConsole(healthy_.path(), {"--no", "--simulate-power-off"});
    QCOMPARE(r.status, 0);
    const QStringList after = Reports(healthy_.path());
    QCOMPARE(after.size(), 100);
    QVERIFY(!after.contains("29990101-000000.json"));  // the oldest went
    QVERIFY(after.contains("29990101-000099.json"));
    const QStringList own = after.filter(QRegularExpression("^2\\d{3}[01]\\d{3}-\\d{6}\\.json$"))
                                .filter(QRegularExpression("^(?!2999)"));
    QCOMPARE(own.size(), 1);
    QCOMPARE(ReadJson(folder + "/" + own[0])["exitStatus"].toInt(), 0);
    for (const QString& name : after) QFile::remove(folder + "/" + name);
  }

  // A report that cannot be written changes nothing of the run: the same lines, the same exit
  // status; standard error names the file.
  void reportNotWritten_data() {
    QTest::addColumn<bool>("folderInTheWay");
    QTest::addColumn<QString>("named");
    QTest::newRow("a file in the folder's place") << true << "ZelUtil.Reports";
    QTest::newRow("--report into a missing folder") << false << "no-such-folder/run.json";
  }
  void reportNotWritten() {
    QVERIFY2(HealthyStation(), qPrintable(healthyError_));
    QFETCH(bool, folderInTheWay);
    QFETCH(QString, named);
    const QString folder = ReportFolder(healthy_.path());
    QDir(folder).removeRecursively();
    QTemporaryDir elsewhere;
    QStringList args{"--no", "--simulate-power-off"};
    if (folderInTheWay) {
      QFile inTheWay(folder);
      QVERIFY(inTheWay.open(QIODevice::WriteOnly));
    } else {
      args << "--report" << elsewhere.filePath(named);
    }
    const Result r = RunConsole(healthy_.path(), args);
    QFile::remove(folder);
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.endsWith("dialog Confirm: ShutDown PC\nanswer: No\n"),
             qPrintable(r.out.right(300)));
    QVERIFY2(r.err.contains(named), qPrintable(r.err));
    QVERIFY(!QFileInfo::exists(elsewhere.filePath(named)));
  }

  // --report FILE: the document goes there and the station's folder is not made.
  void reportToAFile() {
    QVERIFY2(HealthyStation(), qPrintable(healthyError_));
    QDir(ReportFolder(healthy_.path())).removeRecursively();
    QTemporaryDir elsewhere;
    const QString file = elsewhere.filePath("till-1.json");
    const Result r =
        RunConsole(healthy_.path(), {"--no", "--simulate-power-off", "--report", file});
    QCOMPARE(r.status, 0);
    const QJsonObject report = ReadJson(file);
    CheckShape(report);
    QCOMPARE(report["exitStatus"].toInt(), 0);
    QCOMPARE(report["tables"].toArray().size(), 61);
    QVERIFY(!QFileInfo::exists(ReportFolder(healthy_.path())));
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"till-1.json"});
  }

  // --- Check-only.

  // A damaged station: every table tested (the guard does not apply), the damaged ones named,
  // exit 1, and not one byte under drive C: changed: no lock file made or deleted, no repair, no
  // log line, no report.
  void checkOnlyDamagedStation() {
    QTemporaryDir prefix;
    const QString error = Build(
        prefix.path(), {"stale-locks", "db-header:TEMPDATA/PUMPSALE", "px-missing:PERMDATA/STOCK",
                        "db-header:PERMDATA/DRIVERS", "index-missing:CONFIGDATA/GRADE"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(QDir().mkdir(ReportFolder(prefix.path())));  // the folder is there, yet stays empty
    const auto before = zel::test::SnapshotTree(prefix.path() + "/drive_c");
    QTemporaryDir elsewhere;
    const QString file = elsewhere.filePath("check.json");
    const Result r = RunConsole(prefix.path(), {"--check-only", "--report", file});
    const auto after = zel::test::SnapshotTree(prefix.path() + "/drive_c");
    QVERIFY2(after == before, qPrintable(zel::test::TreeDifference(before, after)));
    QCOMPARE(r.status, 1);

    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.filter(QRegularExpression("^lst3: ")),
             (QStringList{"lst3: GRADE,CONFIGDATA", "lst3: PUMPSALE,TEMPDATA",
                          "lst3: DRIVERS,PERMDATA", "lst3: STOCK,PERMDATA"}));
    QCOMPARE(lines.filter(QRegularExpression("^lst1: Testing .* File\\.+(Done|Failed)$")).size(),
             61);
    QVERIFY(r.out.contains("\nlst2: Test on TEMPDATA\\PUMPSALE\\Index-> ....Failed\n"));
    for (const char* never : {"dialog ", "power-off", "error:", "Step 1", "Creating", "Deleting",
                              "Copy Backup", "Re-Index", "Restored", "Please ShutDown"})
      QVERIFY2(!r.out.contains(never), never);
    // The lock lines come first, one per lock file, all stale here.
    for (int i = 0; i < 11; ++i)
      QCOMPARE(lines.value(i), "lock: " + LockFilesInOrder()[i] + " stale");
    QCOMPARE(lines.value(11), "lst2: Step 2");
    QVERIFY(!r.out.contains("note:") && !r.out.contains("pos:"));
    QVERIFY(QDir(ReportFolder(prefix.path())).isEmpty());

    // Its findings, in the same document as a run's.
    const QJsonObject report = ReadJson(file);
    CheckShape(report);
    QCOMPARE(report["checkOnly"].toBool(), true);
    QCOMPARE(report["exitStatus"].toInt(), 1);
    QCOMPARE(report["step1"]["ok"].toBool(), true);
    QCOMPARE(report["step1"]["posWindow"].toString(), "absent");
    for (const QJsonValue lock : report["step1"]["lockFiles"].toArray()) {
      QCOMPARE(lock["action"].toString(), "reported");
      QVERIFY(lock["heldBy"].isNull());
    }
    QVERIFY(report["damagedFilesFolder"].isNull());
    const QJsonArray tables = report["tables"].toArray();
    QCOMPARE(tables.size(), 61);
    QCOMPARE(report["tablesInUse"].toBool(true), false);
    QStringList unusable;
    QStringList retested;
    for (const QJsonValue table : tables) {
      QVERIFY(table["repair"].isNull());
      QCOMPARE(table["skipped"].toBool(true), false);
      if (table["retested"].toBool()) retested << table["table"].toString();
      for (const QJsonValue index : table["indexes"].toArray())
        if (!index["usable"].toBool()) {
          unusable << table["table"].toString();
          break;
        }
    }
    QCOMPARE(unusable, (QStringList{"GRADE", "PUMPSALE", "DRIVERS", "STOCK"}));
    // Each failed twice, after a pause; only the second test's lines are shown.
    QCOMPARE(retested, unusable);
    QCOMPARE(r.out.count("Test on TEMPDATA\\PUMPSALE\\Index-> ....Failed"), 1);
  }

  // A healthy station with stale lock files: exit 0, the locks reported, nothing changed. A lock
  // a live process holds is named with the process, and the folder it locks reads as busy.
  void checkOnlyLockFiles() {
    QTemporaryDir prefix;
    const QString error = Build(prefix.path(), {"stale-locks"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const auto before = zel::test::SnapshotTree(prefix.path() + "/drive_c");
    Result r = RunConsole(prefix.path(), {"--check-only"});
    auto after = zel::test::SnapshotTree(prefix.path() + "/drive_c");
    QVERIFY2(after == before, qPrintable(zel::test::TreeDifference(before, after)));
    QVERIFY2(r.status == 0, qPrintable(r.out.right(2000) + r.err));
    QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.filter(QRegularExpression("^lock: ")).size(), 11);
    QCOMPARE(lines.filter(QRegularExpression("^lock: .* stale$")).size(), 11);
    QCOMPARE(lines.filter(QRegularExpression("^lst3: ")).size(), 0);
    QCOMPARE(lines.filter(QRegularExpression("^lst1: Testing .*Done$")).size(), 61);

    const std::string held = "C:\\ZELPOS\\PERMDATA\\PARADOX.LCK";
    zel::test::LockingChild child(Host(prefix.path(), held).toStdString(),
                                  zel::test::LockingChild::Kind::Fcntl);
    QVERIFY(child.Locked());
    QTemporaryDir elsewhere;
    const QString file = elsewhere.filePath("check.json");
    r = RunConsole(prefix.path(), {"--check-only", "--report", file});
    after = zel::test::SnapshotTree(prefix.path() + "/drive_c");
    QVERIFY2(after == before, qPrintable(zel::test::TreeDifference(before, after)));
    QCOMPARE(r.status, 1);  // the busy folder's tables cannot be opened
    lines = r.out.split('\n', Qt::SkipEmptyParts);
    const QRegularExpressionMatch match =
        QRegularExpression("^lock: C:\\\\ZELPOS\\\\PERMDATA\\\\PARADOX\\.LCK held by (\\d+) (.*)$",
                           QRegularExpression::MultilineOption)
            .match(r.out);
    QVERIFY2(match.hasMatch(), qPrintable(r.out.left(1500)));
    QVERIFY(match.captured(1).toInt() != int(::getpid()));
    QCOMPARE(match.captured(2), OwnCommandLine());
    QCOMPARE(lines.filter(QRegularExpression("^lock: .* stale$")).size(), 10);
    QVERIFY(lines.contains(
        "note: a live process is using the tables; a table it is changing may read as damaged"));
    QVERIFY(lines.filter(QRegularExpression("^lst3: .*,PERMDATA$")).size() > 0);
    QCOMPARE(lines.filter(QRegularExpression("^lst3: ")).size(),
             lines.filter(QRegularExpression("^lst3: .*,PERMDATA$")).size());
    // The report says a live process held the tables while they were tested.
    QCOMPARE(ReadJson(file)["tablesInUse"].toBool(false), true);
  }
};

QTEST_GUILESS_MAIN(ReportRunTest)
#include "tst_report_run.moc"
