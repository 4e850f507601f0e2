// Crash and I/O-error sweeps over one repair run, in the manner of SQLite's crash and I/O-error
// tests. The station needs one restore (PERMDATA\ATTEND), one replacement (TEMPDATA\PUMPSALE)
// and one re-index (PERMDATA\STOCK, whose data is sound). The fault layer (libzelfault.so, loaded
// with LD_PRELOAD) kills the run at each destructive file operation in turn, or makes the N-th
// write, fsync, rename, link or copy fail; then the run is made again without faults and the
// station is checked with the engine's own verifier.
//
// Every point is checked and every broken promise collected; a sweep fails once, at its end,
// with the list, so one run shows the whole picture. A summary line per sweep gives the points
// covered and the failures per kind.
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PowerLoss.h"
#include "catalogue/Catalogue.h"
#include "creators/Schemas.h"
#include "engine/TableWriter.h"
#include "engine/Verifier.h"
#include "tests/support/FaultPreload.h"
#include "tools/demostation/StationData.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZEL_SWEEP_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEL_SWEEP_SANITIZED 1
#endif
#endif
#ifndef ZEL_SWEEP_SANITIZED
#define ZEL_SWEEP_SANITIZED 0
#endif

namespace fs = std::filesystem;

namespace {

const QString kConsole = ZEL_BINARY_DIR "/tools/console/zelutil-console";
const QString kWindow = ZEL_FAULT_WINDOW;
const QString kDemoStation = ZEL_BINARY_DIR "/tools/demostation/zel-demostation";
const QString kShim = ZEL_FAULT_SHIM;

constexpr bool kSanitized = ZEL_SWEEP_SANITIZED != 0;
// The sanitized programs run several times slower; there every point's neighbours are covered
// by the release build and only a stride of them is run, short enough to keep the whole test
// command inside its time.
constexpr int kSanitizedStride = 6;
// The power-cut sweep's cuts in the sanitizer build: one distinct kill point in four.
constexpr std::size_t kSanitizedCutStride = kSanitized ? 4 : 1;
// The window's rows cover the same code as the console's beside it; a stride keeps them short.
constexpr int kWindowStride = 4;
constexpr int kRunTimeoutMs = kSanitized ? 180000 : 60000;
constexpr int kReportedFailures = 40;

constexpr int kLatestGeneration = 3;  // the station's Backup.Ini count
constexpr int kGenerations = 7;
constexpr int kScale = 20;  // records in the big tables: small, the runs' file operations matter

struct TableRef {
  const char* folder;
  const char* table;
};
constexpr TableRef kRestored{"PERMDATA", "ATTEND"};    // .DB header wrecked, kept table
constexpr TableRef kReplaced{"TEMPDATA", "PUMPSALE"};  // .DB cut short, transient table: salvaged
constexpr TableRef kReindexed{"PERMDATA", "STOCK"};    // its named index lost, data sound

enum class Front { Console, Window };

QString FrontName(Front front) {
  return front == Front::Console ? "console" : "window";
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The entry of `dir` named `name` without regard to case; empty when there is none.
fs::path FindNoCase(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    if (Upper(entry.path().filename().string()) == Upper(name)) return entry.path();
  return {};
}

fs::path DataFolder(const fs::path& drive, const std::string& folder) {
  const fs::path pos = FindNoCase(drive, "ZELPOS");
  return pos.empty() ? fs::path() : FindNoCase(pos, folder);
}

fs::path TableDb(const fs::path& drive, const std::string& folder, const std::string& table) {
  const fs::path dir = DataFolder(drive, folder);
  return dir.empty() ? fs::path() : FindNoCase(dir, table + ".DB");
}

std::optional<QByteArray> Bytes(const fs::path& file) {
  if (file.empty()) return std::nullopt;
  QFile f(QString::fromStdString(file.string()));
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  return f.readAll();
}

// The table's files in `dir` (every file whose base name is the table's), by upper-case name.
std::map<std::string, QByteArray> TableFileSet(const fs::path& dir, const std::string& table) {
  std::map<std::string, QByteArray> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (!entry.is_regular_file()) continue;
    if (Upper(entry.path().stem().string()) != Upper(table)) continue;
    if (auto bytes = Bytes(entry.path())) files[Upper(entry.path().filename().string())] = *bytes;
  }
  return files;
}

std::string Describe(const std::map<std::string, QByteArray>& files) {
  std::string text;
  for (const auto& [name, bytes] : files)
    text += (text.empty() ? "" : " ") + name + "(" + std::to_string(bytes.size()) + ")";
  return text.empty() ? "no files" : text;
}

// Empty when the table opens under its primary index and under every index the catalogue names
// for it; else what failed.
std::string Unusable(const fs::path& drive, const zel::catalogue::TableEntry& entry) {
  const std::string folder(entry.folder), table(entry.table);
  const fs::path db = TableDb(drive, folder, table);
  if (db.empty()) return folder + "\\" + table + ": no data file";
  std::vector<std::string> indexes{""};
  for (auto named : entry.namedIndexes)
    if (!named.empty()) indexes.emplace_back(named);
  for (const std::string& index : indexes) {
    try {
      zel::engine::VerifyTable(db, index);
    } catch (const std::exception& e) {
      return folder + "\\" + table + (index.empty() ? "" : " index " + index) + ": " + e.what();
    }
  }
  return {};
}

std::vector<std::string> UnusableTables(const fs::path& drive) {
  std::vector<std::string> unusable;
  for (const auto& entry : zel::catalogue::Entries())
    if (std::string why = Unusable(drive, entry); !why.empty()) unusable.push_back(why);
  return unusable;
}

// Every file under `root` by path relative to it, with its SHA-256.
std::map<std::string, QByteArray> TreeHashes(const fs::path& root) {
  std::map<std::string, QByteArray> hashes;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    const auto bytes = Bytes(it->path());
    hashes[fs::relative(it->path(), root).string()] =
        QCryptographicHash::hash(bytes.value_or("<unreadable>"), QCryptographicHash::Sha256);
  }
  return hashes;
}

bool IsTemporary(const std::string& name) {
  return name.find(".zeltmp-") != std::string::npos || name.find(".zelold-") != std::string::npos ||
         name.find(".zelcopy-") != std::string::npos || name.rfind(".zelspill", 0) == 0;
}

bool IsLockFile(const std::string& name) {
  return Upper(name) == "PARADOX.LCK" || Upper(name) == "PDOXUSRS.LCK";
}

// Files under `root` (recursively) whose names `match`, relative to `base`.
std::vector<std::string> FilesNamed(const fs::path& root, const fs::path& base,
                                    bool (*match)(const std::string&)) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec))
    if (!it->is_directory() && match(it->path().filename().string()))
      found.push_back(fs::relative(it->path(), base).string());
  return found;
}

std::string Join(const std::vector<std::string>& items, std::size_t max = 4) {
  std::string text;
  for (std::size_t i = 0; i < items.size() && i < max; ++i) text += (i ? "; " : "") + items[i];
  if (items.size() > max) text += "; and " + std::to_string(items.size() - max) + " more";
  return text;
}

// The kinds of broken promise, each counted once per point.
namespace kind {
constexpr const char* kUnusable = "a table unusable after the rerun";
constexpr const char* kRerunStatus = "the rerun did not end with exit 0";
constexpr const char* kGeneration = "a different backup generation restored";
constexpr const char* kDamagedLost = "a damaged table's files not kept";
constexpr const char* kTemporary = "temporary files left";
constexpr const char* kLocks = "lock files left in the data folders";
constexpr const char* kBackupLocks = "lock files left in the backup tree";
constexpr const char* kBackupChanged = "the backup tree changed";
constexpr const char* kSoundReplaced = "the sound STOCK.DB replaced";
constexpr const char* kSuccessUnusable = "a success line for an unusable table";
constexpr const char* kExitZeroUnusable = "exit 0 while a table or index is unusable";
constexpr const char* kDeletedUnsaved = "a damaged table deleted unsaved";
constexpr const char* kCrashed = "the run died by a signal of its own";
constexpr const char* kHung = "a run did not finish";
constexpr const char* kNotReached = "the kill point was not reached";
constexpr const char* kSalvagedLost = "the replaced table's salvaged records lost";
constexpr const char* kLogLine = "a log line glued to a torn one or the log rewritten";
}  // namespace kind

struct Violation {
  std::string kind;
  std::string detail;
};

struct RunResult {
  bool finished = false;
  bool killed = false;  // ended by a signal
  int exitCode = -1;
  QStringList lines;
  QString errors;
};

// The lines of a run that tell why it failed, for the report.
std::string WhatFailed(const RunResult& run) {
  QStringList why;
  for (const QString& line : run.lines)
    if (line.endsWith("Failed") || line.startsWith("error:")) why << line;
  QStringList errors = run.errors.split('\n', Qt::SkipEmptyParts);
  errors.removeIf([](const QString& line) { return line.startsWith("QStandardPaths:"); });
  why += errors;
  return why.isEmpty() ? std::string() : ": " + why.mid(0, 6).join(" | ").toStdString();
}

struct Point {
  Front front = Front::Console;
  std::string label;             // "before:12", "from:EIO:40"
  QStringList faultEnvironment;  // ZEL_FAULT_* settings of the faulty run
  bool crash = false;
  // After the kill, what a power cut at that moment could also take back.
  std::optional<zelfault::PowerLossKind> powerLoss = std::nullopt;
};

struct PointResult {
  std::string label;
  std::vector<Violation> violations;
  std::set<std::string> notes;  // outcomes that are no failure (e.g. the run stopped early)
};

// What the station is before any run and what the uninterrupted run makes of it.
struct Reference {
  std::map<std::string, QByteArray> backupHashes;
  QByteArray stockDb;
  std::map<std::string, QByteArray> damagedDb;      // "FOLDER/TABLE" -> the damaged .DB
  std::map<int, QByteArray> generationDb;           // the restored table's .DB in each generation
  std::map<std::string, QByteArray> restoredFiles;  // after the uninterrupted run
  long destructive = 0;  // destructive operations of the uninterrupted run
  // Per destructive operation: whether any recorded operation comes between it and the next
  // one. Where none does, a kill right after it leaves the files a kill right before the next
  // one leaves, and that point is run once.
  std::vector<bool> distinctAfter;
  long countable = 0;           // fault-countable operations of it
  std::vector<long> writes;     // the fault-countable numbers of its writes and pwrites
  std::vector<long> logWrites;  // ... of those that append to ZelUtil.Log
};

QStringList SuccessTables(const QStringList& lines) {
  static const QRegularExpression success(
      R"(^lst\d: .*Succesfully (?:done|Restored)\s+(\S+)\\(\S+) \.\.\.\.Done$)");
  QStringList tables;
  for (const QString& line : lines)
    if (const auto m = success.match(line); m.hasMatch())
      tables << m.captured(1) + "\\" + m.captured(2);
  return tables;
}

// Whether the run folder under ZelUtil.Damaged holds the salvaged table of `t`.
bool SalvagedTableWritten(const fs::path& drive, const TableRef& t) {
  const fs::path pos = FindNoCase(drive, "ZelPos");
  const fs::path damaged = pos.empty() ? fs::path() : FindNoCase(pos, "ZelUtil.Damaged");
  std::error_code ec;
  if (damaged.empty()) return false;
  for (auto it = fs::recursive_directory_iterator(damaged, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.parent_path().filename() == "Salvaged" &&
        p.parent_path().parent_path().filename() == t.folder &&
        p.filename() == std::string(t.table) + ".DB" && fs::file_size(p, ec) > 0)
      return true;
  }
  return false;
}

QByteArray LogBytes(const fs::path& drive) {
  const fs::path pos = FindNoCase(drive, "ZelPos");
  return Bytes(pos.empty() ? fs::path() : FindNoCase(pos, "ZelUtil.Log")).value_or(QByteArray());
}

class Harness {
 public:
  // The sweep runs two points at a time. std::filesystem's copy opens its files without
  // close-on-exec, so a program started by the other thread while a copy is under way would
  // keep that point's tables open for its whole run, and the point's own run would rightly
  // refuse to delete a table another program has open. Copies and starts therefore take turns.
  static std::mutex& CopyOrStart() {
    static std::mutex turn;
    return turn;
  }

  Harness(fs::path templateDir, fs::path workRoot)
      : template_(std::move(templateDir)), work_(std::move(workRoot)) {}

  fs::path NewPrefix() {
    const fs::path prefix = work_ / ("p" + std::to_string(next_++));
    fs::create_directories(work_);
    fs::remove_all(prefix);
    {
      const std::lock_guard<std::mutex> turn(CopyOrStart());
      fs::copy(template_, prefix, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    return prefix;
  }

  RunResult Run(Front front, const fs::path& prefix, const QStringList& faults,
                const QString& trace = {}) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys())
      if (key.startsWith("ZEL_FAULT_")) env.remove(key);
    const QString p = QString::fromStdString(prefix.string());
    env.insert("WINEPREFIX", p);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // Nothing outside the prefix: no real display to find a POS window on, no system bus.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + p + "/no-system-bus");
    env.insert("ZELUTIL_SIMULATE_POWER_OFF", "1");
    env.insert("LD_PRELOAD", kShim);
    env.insert("ASAN_OPTIONS", zel::test::AsanOptionsAllowingPreload(env.value("ASAN_OPTIONS")));
    env.insert("ZEL_FAULT_ROOT", p + "/drive_c");
    env.insert("ZEL_FAULT_NOSLEEP", "1");
    env.insert("ZEL_FAULT_NOSYNC", "1");
    if (!trace.isEmpty()) env.insert("ZEL_FAULT_TRACE", trace);
    for (const QString& setting : faults) {
      const qsizetype eq = setting.indexOf('=');
      env.insert(setting.left(eq), setting.mid(eq + 1));
    }
    QProcess process;
    process.setProcessEnvironment(env);
    {
      const std::lock_guard<std::mutex> turn(CopyOrStart());
      if (front == Front::Console)
        process.start(kConsole, {"--yes", "--simulate-power-off"});
      else
        process.start(kWindow, {});
      process.waitForStarted();
    }
    process.closeWriteChannel();
    RunResult run;
    if (!process.waitForFinished(kRunTimeoutMs)) {
      process.kill();
      process.waitForFinished(5000);
      return run;
    }
    run.finished = true;
    run.killed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = process.exitCode();
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n');
    run.lines.removeAll(QString());
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
  }

 private:
  fs::path template_;
  fs::path work_;
  std::atomic<int> next_{0};
};

// Checks a station after a faulty run and its rerun.
class Checker {
 public:
  Checker(const Reference& reference, fs::path drive, PointResult& result)
      : ref_(reference), drive_(std::move(drive)), result_(result) {}

  void Add(const char* kind, const std::string& detail) {
    for (const Violation& v : result_.violations)
      if (v.kind == kind) return;
    result_.violations.push_back({kind, detail});
  }

  // Right after the faulty run (before the rerun).
  void AfterFaultyRun(Front front, const RunResult& run) {
    const std::vector<std::string> unusable = UnusableTables(drive_);
    if (front == Front::Console && run.finished && !run.killed && run.exitCode == 0 &&
        !unusable.empty())
      Add(kind::kExitZeroUnusable, Join(unusable));
    std::vector<std::string> falseSuccess;
    for (const QString& table : SuccessTables(run.lines)) {
      const QStringList parts = table.split('\\');
      const auto* entry = zel::catalogue::FindEntry(parts[0].toStdString(), parts[1].toStdString());
      if (!entry) continue;
      if (std::string why = Unusable(drive_, *entry); !why.empty()) falseSuccess.push_back(why);
    }
    if (!falseSuccess.empty()) Add(kind::kSuccessUnusable, Join(falseSuccess));
    SoundDataKept("after the faulty run");
    for (const TableRef& t : {kRestored, kReplaced}) {
      const std::string key = std::string(t.folder) + "/" + t.table;
      const QByteArray& damaged = ref_.damagedDb.at(key);
      if (Bytes(TableDb(drive_, t.folder, t.table)) != damaged && !SavedDamaged(t, damaged))
        Add(kind::kDeletedUnsaved, key +
                                       ": the damaged .DB is neither in place nor in "
                                       "ZelUtil.Damaged");
    }
  }

  // After the rerun without faults.
  void AfterRerun(Front front, const RunResult& rerun, bool crashSweep) {
    const std::vector<std::string> unusable = UnusableTables(drive_);
    if (!unusable.empty()) Add(kind::kUnusable, Join(unusable));
    if (!rerun.finished)
      Add(kind::kHung, "the rerun");
    else if (rerun.killed)
      Add(kind::kCrashed, "the rerun: " + rerun.errors.right(300).toStdString());
    else if (front == Front::Console && rerun.exitCode != 0)
      Add(kind::kRerunStatus, "exit " + std::to_string(rerun.exitCode) + WhatFailed(rerun));

    if (crashSweep) {
      const auto restored = TableFileSet(DataFolder(drive_, kRestored.folder), kRestored.table);
      if (restored != ref_.restoredFiles) {
        std::string which = "files " + Describe(restored) + ", the uninterrupted run's " +
                            Describe(ref_.restoredFiles);
        const auto db = restored.find(std::string(kRestored.table) + ".DB");
        for (const auto& [generation, bytes] : ref_.generationDb)
          if (db != restored.end() && db->second == bytes && generation != kLatestGeneration)
            which = "the data of generation " + std::to_string(generation) + " instead of " +
                    std::to_string(kLatestGeneration);
        Add(kind::kGeneration,
            std::string(kRestored.folder) + "\\" + kRestored.table + ": " + which);
      }
      for (const TableRef& t : {kRestored, kReplaced})
        if (!SavedDamaged(t, ref_.damagedDb.at(std::string(t.folder) + "/" + t.table)))
          Add(kind::kDamagedLost,
              std::string(t.folder) + "\\" + t.table + ".DB not in ZelUtil.Damaged");
      if (!SalvagedTableWritten(drive_, kReplaced))
        Add(kind::kSalvagedLost, std::string(kReplaced.folder) + "\\" + kReplaced.table +
                                     ": no Salvaged table under ZelUtil.Damaged");
    }
    SoundDataKept("after the rerun");

    const fs::path pos = FindNoCase(drive_, "ZELPOS");
    const fs::path backup = FindNoCase(drive_, "ShiftBackUp");
    std::vector<std::string> temporary = FilesNamed(pos, drive_, IsTemporary);
    for (const auto& f : FilesNamed(backup, drive_, IsTemporary)) temporary.push_back(f);
    if (!temporary.empty()) Add(kind::kTemporary, Join(temporary));
    if (auto locks = FilesNamed(pos, drive_, IsLockFile); !locks.empty())
      Add(kind::kLocks, Join(locks));
    if (auto locks = FilesNamed(backup, drive_, IsLockFile); !locks.empty())
      Add(kind::kBackupLocks, Join(locks));
    const auto hashes = TreeHashes(backup);
    if (hashes != ref_.backupHashes) {
      std::vector<std::string> changed;
      for (const auto& [name, hash] : hashes) {
        const auto it = ref_.backupHashes.find(name);
        if (it == ref_.backupHashes.end()) {
          if (!IsLockFile(fs::path(name).filename().string())) changed.push_back("new " + name);
        } else if (it->second != hash) {
          changed.push_back("changed " + name);
        }
      }
      for (const auto& [name, hash] : ref_.backupHashes)
        if (!hashes.count(name)) changed.push_back("removed " + name);
      if (!changed.empty()) Add(kind::kBackupChanged, Join(changed));
    }
  }

  // The log after the rerun is the log before it with whole lines added, each starting a
  // line of its own even when the killed run left half a line at the end.
  void LogLinesWhole(const QByteArray& before) {
    const QByteArray after = LogBytes(drive_);
    if (!after.startsWith(before)) {
      Add(kind::kLogLine, "the rerun changed what the log held before it");
      return;
    }
    QByteArray added = after.mid(before.size());
    if (!before.isEmpty() && !before.endsWith("\r\n")) {
      if (!added.startsWith("\r\n")) {
        Add(kind::kLogLine, "the rerun's first line continues the torn line \"" +
                                before.right(40).toStdString() + "\"");
        return;
      }
      added = added.mid(2);
    }
    static const QRegularExpression line(R"(^\S.*\d  \d{1,2}:\d{2}:\d{2}  \S)");
    for (const QByteArray& l : added.split('\n')) {
      if (l.isEmpty()) continue;
      if (!l.endsWith('\r') || !line.match(QString::fromLatin1(l)).hasMatch()) {
        Add(kind::kLogLine, "the rerun wrote \"" + l.left(60).toStdString() + "\"");
        return;
      }
    }
  }

 private:
  void SoundDataKept(const char* when) {
    const auto now = Bytes(TableDb(drive_, kReindexed.folder, kReindexed.table));
    if (now == ref_.stockDb) return;
    std::string detail = std::string(kReindexed.folder) + "\\" + kReindexed.table + ".DB " + when;
    if (!now) detail += ": missing";
    for (const auto& [generation, bytes] : stockGenerations_)
      if (now && *now == bytes) detail += ": holds generation " + std::to_string(generation);
    Add(kind::kSoundReplaced, detail);
  }

  bool SavedDamaged(const TableRef& t, const QByteArray& damaged) const {
    const fs::path pos = FindNoCase(drive_, "ZELPOS");
    const fs::path saved = pos.empty() ? fs::path() : FindNoCase(pos, "ZelUtil.Damaged");
    if (saved.empty()) return false;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(saved, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
      if (!it->is_regular_file()) continue;
      if (Upper(it->path().filename().string()) != Upper(std::string(t.table) + ".DB")) continue;
      if (Upper(it->path().parent_path().filename().string()) != t.folder) continue;
      if (Bytes(it->path()) == damaged) return true;
    }
    return false;
  }

 public:
  std::map<int, QByteArray> stockGenerations_;

 private:
  const Reference& ref_;
  fs::path drive_;
  PointResult& result_;
};

// Gives a kept table in each backup generation its own records, so the generation a restore
// used shows in its bytes, and so that the live table differs from every backup of it.
void DistinctGenerations(const fs::path& drive, const TableRef& t) {
  const auto* schema = zel::creators::FindSchema(t.folder, t.table);
  if (!schema) throw std::runtime_error(std::string("no schema for ") + t.table);
  const std::size_t base = zel::demostation::RecordCount(*schema, kScale);
  const fs::path backup = FindNoCase(drive, "ShiftBackUp");
  for (int g = 1; g <= kGenerations; ++g) {
    const fs::path dir = FindNoCase(backup, t.folder + std::to_string(g));
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir))
      if (Upper(entry.path().stem().string()) == t.table) fs::remove(entry.path(), ec);
    const std::size_t count =
        base > 8 ? base - 8 + static_cast<std::size_t>(g) : base + static_cast<std::size_t>(g);
    zel::engine::CreateTable(dir / (std::string(t.table) + ".DB"), schema->def,
                             zel::demostation::Records(*schema, count));
  }
}

}  // namespace

class FaultSweepTest : public QObject {
  Q_OBJECT

  QTemporaryDir work_;
  fs::path template_;
  Reference reference_;
  std::map<int, QByteArray> stockGenerations_;

  // The uninterrupted run of `front`: its operation counts and the table it restored.
  bool ReferenceRun(Harness& harness, Front front, Reference& ref, QString& problem) {
    const fs::path prefix = harness.NewPrefix();
    const QString trace =
        QString::fromStdString((prefix.parent_path() / "reference.trace").string());
    QFile::remove(trace);
    const RunResult run = harness.Run(front, prefix, {}, trace);
    if (!run.finished || run.killed || (front == Front::Console && run.exitCode != 0)) {
      problem = "the uninterrupted " + FrontName(front) + " run failed (exit " +
                QString::number(run.exitCode) + "): " + run.errors.right(500);
      return false;
    }
    QFile file(trace);
    if (!file.open(QIODevice::ReadOnly)) {
      problem = "the fault layer wrote no trace of the uninterrupted run";
      return false;
    }
    std::vector<int> destructiveLines;
    int lineNumber = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
      const QList<QByteArray> fields = line.split(' ');
      if (fields.size() < 4) continue;
      if (fields[2] != "d=-") {
        ref.destructive = std::max(ref.destructive, fields[2].mid(2).toLong());
        destructiveLines.push_back(lineNumber);
      }
      if (fields[3] != "io=-") {
        const long io = fields[3].mid(3).toLong();
        ref.countable = std::max(ref.countable, io);
        if (fields[1] == "write" || fields[1] == "pwrite") {
          ref.writes.push_back(io);
          if (fields[4].toUpper().endsWith("ZELUTIL.LOG")) ref.logWrites.push_back(io);
        }
      }
      ++lineNumber;
    }
    if (static_cast<long>(destructiveLines.size()) != ref.destructive) {
      problem = "the trace of the uninterrupted run skips destructive operations";
      return false;
    }
    ref.distinctAfter.clear();
    for (std::size_t k = 0; k < destructiveLines.size(); ++k)
      ref.distinctAfter.push_back(k + 1 == destructiveLines.size() ||
                                  destructiveLines[k + 1] - destructiveLines[k] > 1);
    const fs::path drive = prefix / "drive_c";
    ref.restoredFiles = TableFileSet(DataFolder(drive, kRestored.folder), kRestored.table);
    // The cut-short table's records are salvaged, so the sweeps cover salvage's writes too.
    if (!SalvagedTableWritten(drive, kReplaced)) {
      problem = QString("the uninterrupted %1 run salvaged nothing of %2\\%3")
                    .arg(FrontName(front), kReplaced.folder, kReplaced.table);
      return false;
    }
    // The uninterrupted run must itself keep every promise the sweeps check.
    PointResult own;
    Checker checker(ref, drive, own);
    checker.stockGenerations_ = stockGenerations_;
    checker.AfterFaultyRun(front, run);
    checker.AfterRerun(front, run, false);
    if (!own.violations.empty()) {
      problem = "the uninterrupted " + FrontName(front) + " run: " +
                QString::fromStdString(own.violations.front().kind + ": " +
                                       own.violations.front().detail);
      return false;
    }
    fs::remove_all(prefix);
    QFile::remove(trace);
    return true;
  }

  PointResult RunPoint(Harness& harness, const Point& point, const Reference& ref) {
    PointResult result;
    result.label = FrontName(point.front).toStdString() + " " + point.label;
    const fs::path prefix = harness.NewPrefix();
    const fs::path drive = prefix / "drive_c";
    Checker checker(ref, drive, result);
    checker.stockGenerations_ = stockGenerations_;
    QStringList faults = point.faultEnvironment;
    const fs::path journal = prefix.string() + ".journal";
    if (point.powerLoss) {
      fs::remove_all(journal);
      fs::create_directories(journal);
      faults << "ZEL_FAULT_POWERLOSS=" + QString::fromStdString(journal.string());
    }
    const RunResult faulty = harness.Run(point.front, prefix, faults);
    if (point.powerLoss && faulty.killed) zelfault::ApplyPowerLoss(journal, *point.powerLoss);
    const QByteArray logBefore = LogBytes(drive);
    if (!faulty.finished) {
      checker.Add(kind::kHung, "the faulty run");
    } else if (point.crash) {
      if (!faulty.killed) result.notes.insert(kind::kNotReached);
    } else {
      if (faulty.killed)
        checker.Add(kind::kCrashed, "the faulty run: " + faulty.errors.right(300).toStdString());
      checker.AfterFaultyRun(point.front, faulty);
    }
    const RunResult rerun = harness.Run(point.front, prefix, {});
    checker.AfterRerun(point.front, rerun, point.crash);
    checker.LogLinesWhole(logBefore);
    std::error_code ec;
    fs::remove_all(prefix, ec);
    fs::remove_all(journal, ec);
    return result;
  }

  // Runs the points two at a time and fails once with everything they broke.
  void Sweep(const char* name, Front front, const QString& coverage,
             const std::vector<Point>& points, const Reference& ref, Harness& harness) {
    std::vector<PointResult> results(points.size());
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
      for (std::size_t i; (i = next++) < points.size();) {
        try {
          results[i] = RunPoint(harness, points[i], ref);
        } catch (const std::exception& e) {
          results[i].label = FrontName(points[i].front).toStdString() + " " + points[i].label;
          results[i].violations.push_back({"the harness failed", e.what()});
        }
      }
    };
    QElapsedTimer timer;
    timer.start();
    const unsigned threads = std::min(2u, std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();

    std::map<std::string, int> perKind;
    std::map<std::string, int> notes;
    QStringList failures;
    int failedPoints = 0;
    for (const PointResult& r : results) {
      for (const std::string& n : r.notes) ++notes[n];
      if (r.violations.empty()) continue;
      ++failedPoints;
      for (const Violation& v : r.violations) {
        ++perKind[v.kind];
        failures << QString::fromStdString(r.label + ": " + v.kind + ": " + v.detail);
      }
    }
    QString summary = QString("%1 sweep, %2: %3 points (%4) in %5 s; %6 points failed")
                          .arg(name, FrontName(front))
                          .arg(points.size())
                          .arg(coverage)
                          .arg(timer.elapsed() / 1000.0, 0, 'f', 1)
                          .arg(failedPoints);
    for (const auto& [k, n] : perKind)
      summary += QString("\n  %1: %2").arg(n, 4).arg(QString::fromStdString(k));
    for (const auto& [k, n] : notes)
      summary += QString("\n  (not a failure) %1: %2").arg(n, 4).arg(QString::fromStdString(k));
    qInfo().noquote() << summary;

    if (!failures.isEmpty()) {
      QStringList shown = failures.mid(0, kReportedFailures);
      if (failures.size() > kReportedFailures)
        shown << QString("... and %1 more").arg(failures.size() - kReportedFailures);
      QFAIL(qPrintable(
          QString("%1 of %2 points broke a promise:\n").arg(failedPoints).arg(points.size()) +
          shown.join('\n')));
    }
  }

  Harness NewHarness() {
    return Harness(template_, fs::path(work_.path().toStdString()) / "points");
  }

 private slots:
  void initTestCase() {
    QVERIFY(work_.isValid());
    template_ = fs::path(work_.path().toStdString()) / "template";
    QProcess builder;
    builder.start(kDemoStation,
                  {"--prefix", QString::fromStdString(template_.string()), "--scale",
                   QString::number(kScale), "--damage", "index-missing:PERMDATA/STOCK", "--damage",
                   "db-truncated:TEMPDATA/PUMPSALE", "--damage", "db-header:PERMDATA/ATTEND"});
    QVERIFY2(builder.waitForFinished(120000), "the demo station was not built in time");
    QVERIFY2(builder.exitCode() == 0, builder.readAllStandardError().constData());

    const fs::path drive = template_ / "drive_c";
    try {
      DistinctGenerations(drive, kRestored);
      DistinctGenerations(drive, kReindexed);
    } catch (const std::exception& e) {
      QFAIL(e.what());
    }
    const fs::path backup = FindNoCase(drive, "ShiftBackUp");
    reference_.backupHashes = TreeHashes(backup);
    QVERIFY(!reference_.backupHashes.empty());
    const auto stock = Bytes(TableDb(drive, kReindexed.folder, kReindexed.table));
    QVERIFY2(stock, "the station has no STOCK.DB");
    reference_.stockDb = *stock;
    for (const TableRef& t : {kRestored, kReplaced}) {
      const auto damaged = Bytes(TableDb(drive, t.folder, t.table));
      QVERIFY2(damaged, t.table);
      reference_.damagedDb[std::string(t.folder) + "/" + t.table] = *damaged;
    }
    for (int g = 1; g <= kGenerations; ++g) {
      const fs::path dir = FindNoCase(backup, kRestored.folder + std::to_string(g));
      reference_.generationDb[g] =
          Bytes(FindNoCase(dir, std::string(kRestored.table) + ".DB")).value_or("");
      const fs::path stockDir = FindNoCase(backup, kReindexed.folder + std::to_string(g));
      stockGenerations_[g] =
          Bytes(FindNoCase(stockDir, std::string(kReindexed.table) + ".DB")).value_or("");
      QVERIFY(!reference_.generationDb[g].isEmpty() && !stockGenerations_[g].isEmpty());
    }
    // The fixture shows what it must: the three tables need their three repairs.
    const std::vector<std::string> unusable = UnusableTables(drive);
    QVERIFY2(unusable.size() == 3, Join(unusable, 10).c_str());
  }

  void crashSweep_data() {
    QTest::addColumn<int>("front");
    QTest::newRow("console") << int(Front::Console);
    QTest::newRow("window") << int(Front::Window);
  }

  // Kill points: right before and right after each destructive operation of the uninterrupted
  // run, then a complete rerun.
  void crashSweep() {
    QFETCH(int, front);
    const Front f = static_cast<Front>(front);
    Harness harness = NewHarness();
    Reference ref = reference_;
    QString problem;
    QVERIFY2(ReferenceRun(harness, f, ref, problem), qPrintable(problem));
    QVERIFY2(ref.destructive > 0, "the uninterrupted run made no destructive file operation");

    const int stride =
        (f == Front::Window ? kWindowStride : 1) * (kSanitized ? kSanitizedStride : 1);
    // Every distinct kill point, then every stride-th of them.
    std::vector<Point> distinct;
    int same = 0;
    for (long k = 1; k <= ref.destructive; ++k)
      for (const char* when : {"before", "after"}) {
        if (std::string(when) == "after" && !ref.distinctAfter[k - 1]) {
          ++same;
          continue;
        }
        distinct.push_back({f,
                            std::string(when) + ":" + std::to_string(k),
                            {QString("ZEL_FAULT_CRASH=%1:%2").arg(when).arg(k)},
                            true});
      }
    std::vector<Point> points;
    for (std::size_t i = 0; i < distinct.size(); i += static_cast<std::size_t>(stride))
      points.push_back(distinct[i]);
    const QString coverage =
        QString(
            "K = 1..%1 before and after, %2 after-points left out as equal to the next "
            "before-point; one in %3 of the %4 distinct points%5")
            .arg(ref.destructive)
            .arg(same)
            .arg(stride)
            .arg(distinct.size())
            .arg(kSanitized ? ", sanitizer build" : "");
    Sweep("crash", f, coverage, points, ref, harness);
  }

  // A power cut instead of a kill: right after each destructive operation, the files as the
  // kill leaves them, then what the cut also takes back: the contents not synced since they
  // were written, or the names not synced in their folder (each a separate point). Then a
  // write torn in half, the rest as the kernel holds it: every append to the log and a stride of
  // the other writes. The console's run only: the window's makes the same file operations. The
  // sanitizer build takes a stride of the cuts and of the other writes, and every log append:
  // its value there is the rerun reading torn and emptied files.
  void powerLossSweep() {
    Harness harness = NewHarness();
    Reference ref = reference_;
    QString problem;
    QVERIFY2(ReferenceRun(harness, Front::Console, ref, problem), qPrintable(problem));
    QVERIFY2(!ref.logWrites.empty(), "the uninterrupted run appended nothing to the log");

    std::vector<Point> points;
    std::size_t distinct = 0;
    for (long k = 1; k <= ref.destructive; ++k) {
      if (!ref.distinctAfter[k - 1]) continue;
      if (distinct++ % kSanitizedCutStride != 0) continue;
      // Contents and names alternating, so that both meet every kind of operation.
      const bool data = kSanitized ? points.size() % 2 == 0 : k % 2 == 1;
      points.push_back({Front::Console,
                        std::string(data ? "data" : "entries") + ":after:" + std::to_string(k),
                        {QString("ZEL_FAULT_CRASH=after:%1").arg(k)},
                        true,
                        data ? zelfault::PowerLossKind::Data : zelfault::PowerLossKind::Entries});
    }
    const std::size_t cuts = points.size();
    const std::size_t tornOthers = kSanitized ? 6 : 24;
    const std::size_t stride = std::max<std::size_t>(1, ref.writes.size() / tornOthers);
    std::set<long> torn(ref.logWrites.begin(), ref.logWrites.end());
    for (std::size_t i = 0; i < ref.writes.size(); i += stride) torn.insert(ref.writes[i]);
    for (long n : torn)
      points.push_back({Front::Console,
                        "torn:" + std::to_string(n),
                        {QString("ZEL_FAULT_TORN=%1").arg(n)},
                        true,
                        std::nullopt});
    const QString coverage =
        QString(
            "K = 1..%1 after %2, %3 cuts alternating "
            "unsynced contents and unsynced names; %4 torn writes (all %5 log appends, one "
            "in %6 of the %7 writes)")
            .arg(ref.destructive)
            .arg(kSanitized ? QString("one in %1 of the distinct destructive operations")
                                  .arg(kSanitizedCutStride)
                            : QString("each distinct destructive operation"))
            .arg(cuts)
            .arg(torn.size())
            .arg(ref.logWrites.size())
            .arg(stride)
            .arg(ref.writes.size());
    Sweep("power-cut", Front::Console, coverage, points, ref, harness);
  }

  void ioSweep_data() { crashSweep_data(); }

  // The N-th write, fsync, rename, link or copy fails with ENOSPC or EIO, once or from N on.
  // Every N runs once and from-N-on, the error alternating with N so that both errors meet
  // every kind of operation; a stride is taken on the window and in the sanitizer build.
  void ioSweep() {
    QFETCH(int, front);
    const Front f = static_cast<Front>(front);
    Harness harness = NewHarness();
    Reference ref = reference_;
    QString problem;
    QVERIFY2(ReferenceRun(harness, f, ref, problem), qPrintable(problem));
    QVERIFY2(ref.countable > 0, "the uninterrupted run made no countable file operation");

    const int stride =
        (f == Front::Window ? kWindowStride : 1) * (kSanitized ? kSanitizedStride : 1);
    std::vector<Point> points;
    for (long n = 1; n <= ref.countable; n += stride)
      for (const char* mode : {"once", "from"}) {
        const bool odd = (n / stride) % 2 == 1;
        const char* error = (odd == (std::string(mode) == "once")) ? "ENOSPC" : "EIO";
        points.push_back(
            {f,
             std::string(mode) + ":" + error + ":" + std::to_string(n),
             {QString("ZEL_FAULT_FAIL=%1").arg(n), QString("ZEL_FAULT_FAIL_MODE=") + mode,
              QString("ZEL_FAULT_ERRNO=") + error},
             false});
      }
    const QString coverage =
        QString("N = 1..%1 in steps of %2%3, once and from N on, ENOSPC and EIO alternating with N")
            .arg(ref.countable)
            .arg(stride)
            .arg(kSanitized ? ", sanitizer build" : "");
    Sweep("I/O", f, coverage, points, ref, harness);
  }
};

int main(int argc, char* argv[]) {
  // A sweep is one test function of hundreds of runs: QtTest's five-minute watchdog would cut it
  // short; CTest's timeout bounds it instead.
  if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
    qputenv("QTEST_FUNCTION_TIMEOUT", "3600000");
  QCoreApplication app(argc, argv);
  FaultSweepTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}
#include "tst_fault_sweep.moc"
