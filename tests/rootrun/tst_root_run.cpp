// A technician's run as root over a till user's prefix. The till account owns drive C: and may
// have planted anything there; each row plants one kind of trap as that account (a child that
// left root), starts the console as root with root's groups, and checks that the run kept to the
// account's rights: nothing outside drive C: changed or leaked in, nothing privileged was made,
// every file the run made belongs to the account, the run ended, and no log line was forged.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "tests/support/BusConfig.h"
#include "tests/support/DemoStations.h"

namespace fs = std::filesystem;

namespace {

// What the decoy tree held: a file's bytes, mode and owner, a folder's mode and owner.
struct Node {
  QByteArray content;
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  bool operator==(const Node&) const = default;
};

std::map<std::string, Node> Snapshot(const fs::path& root) {
  std::map<std::string, Node> nodes;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    Node node{{}, st.st_mode, st.st_uid, st.st_gid};
    if (S_ISREG(st.st_mode)) {
      QFile file(QString::fromStdString(it->path().string()));
      if (file.open(QIODevice::ReadOnly)) node.content = file.readAll();
    }
    nodes[it->path().lexically_relative(root).string()] = node;
  }
  return nodes;
}

// Every entry below `root`, never through a link.
std::vector<fs::path> Walk(const fs::path& root) {
  std::vector<fs::path> paths;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec))
    paths.push_back(it->path());
  return paths;
}

QByteArray Hash(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// The hash of a file's first 64 MiB (planted sparse files are far larger). Asks for no more than
// the file holds: a 64 MiB buffer per small file made this suite many times slower under ASan.
QByteArray HeadHash(QFile& file) {
  return Hash(file.read(std::min<qint64>(file.size(), qint64{64} << 20)));
}

// An unused uid and gid: no passwd or group entry, different for parallel runs.
std::pair<uid_t, gid_t> UnusedIds() {
  for (uid_t id = 40000 + static_cast<uid_t>(::getpid() % 20000); id < 65000; ++id)
    if (!::getpwuid(id) && !::getgrgid(id)) return {id, id};
  return {0, 0};
}

}  // namespace

class RootRunTest : public QObject {
  Q_OBJECT

  uid_t uid_ = 0;
  gid_t gid_ = 0;
  QTemporaryDir tmp_;
  fs::path prefix_, driveC_, decoy_, tillHome_;
  int row_ = 0;
  // How the program names the identity it works with: the run's broker, or a tool that writes.
  QString identityLine_;

  // Runs `plant` in a child that left root for the till account; false when it failed.
  bool AsTillUser(const std::function<bool()>& plant) {
    const pid_t child = ::fork();
    if (child == 0) {
      const gid_t groups[] = {gid_};
      if (::setgroups(1, groups) != 0 || ::setresgid(gid_, gid_, gid_) != 0 ||
          ::setresuid(uid_, uid_, uid_) != 0)
        ::_exit(2);
      ::umask(022);
      ::_exit(plant() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }

  // The account owns every file of its station, as on a till.
  void GiveToTillUser(const fs::path& root) {
    QVERIFY(::lchown(root.c_str(), uid_, gid_) == 0);
    for (const fs::path& path : Walk(root)) QVERIFY(::lchown(path.c_str(), uid_, gid_) == 0);
  }

  fs::path Host(const std::string& relative) const { return driveC_ / relative; }

  // Files under drive C: that carry a set-user-ID or set-group-ID bit (the account's own, planted).
  std::set<fs::path> PrivilegedFiles() const {
    std::set<fs::path> files;
    for (const fs::path& path : Walk(driveC_)) {
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0 && (st.st_mode & (S_ISUID | S_ISGID))) files.insert(path);
    }
    return files;
  }

  std::set<QByteArray> DriveCHashes() const {
    std::set<QByteArray> hashes;
    for (const fs::path& path : Walk(driveC_)) {
      if (!fs::is_regular_file(fs::symlink_status(path))) continue;
      QFile file(QString::fromStdString(path.string()));
      if (file.open(QIODevice::ReadOnly)) hashes.insert(HeadHash(file));
    }
    return hashes;
  }

  struct Run {
    int exitCode = -1;
    bool finished = false;
    QString out, err;
  };

  // The console as root, with root's supplementary groups present as sudo leaves them.
  Run RunConsoleAsRoot(const QStringList& args = {"--yes", "--simulate-power-off"},
                       const QString& systemBus = {}, const QString& program = ZEL_CONSOLE) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!systemBus.isEmpty()) env.insert("DBUS_SYSTEM_BUS_ADDRESS", systemBus);
    env.insert("WINEPREFIX", QString::fromStdString(prefix_.string()));
    env.remove("DISPLAY");
    process.setProcessEnvironment(env);
    // Its own process group, so that the watchdog ends the run's child as well.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start("setpriv", QStringList{"--groups=0,4", "--", program} + args);
    Run run;
    // A watchdog, not a timing claim: a run that hangs on a planted file never ends by itself.
    run.finished = process.waitForFinished(120000);
    if (!run.finished) {
      ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
      process.waitForFinished(10000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
  }

  // What every row must show after the run.
  // `before`: the hashes of drive C:'s files before the run (a decoy that matches one of them
  // proves nothing).
  void CheckNothingEscaped(const std::map<std::string, Node>& decoyBefore,
                           const std::set<QByteArray>& before, const Run& run,
                           const std::set<std::string>& leftToRoot = {},
                           const std::set<fs::path>& planted = {}) {
    QVERIFY2(run.finished, "the run hung and was killed by the watchdog");
    QVERIFY2(run.err.contains(identityLine_.arg(uid_)), qPrintable(run.err));
    const auto decoyAfter = Snapshot(decoy_);
    for (const auto& [path, node] : decoyBefore) {
      const auto found = decoyAfter.find(path);
      QVERIFY2(found != decoyAfter.end(),
               qPrintable("decoy removed: " + QString::fromStdString(path)));
      QVERIFY2(found->second == node, qPrintable("decoy changed: " + QString::fromStdString(path)));
    }
    QCOMPARE(decoyAfter.size(), decoyBefore.size());

    std::set<QByteArray> decoyHashes;
    for (const auto& [path, node] : decoyBefore)
      if (!node.content.isEmpty() && !before.count(Hash(node.content)))
        decoyHashes.insert(Hash(node.content));
    for (const fs::path& path : Walk(driveC_)) {
      struct stat st {};
      QVERIFY(::lstat(path.c_str(), &st) == 0);
      const QString name = QString::fromStdString(path.string());
      if (!planted.count(path))
        QVERIFY2(!(st.st_mode & (S_ISUID | S_ISGID)), qPrintable("privileged bit on " + name));
      if (S_ISLNK(st.st_mode)) continue;
      if (leftToRoot.count(path.filename().string())) continue;
      QVERIFY2(st.st_uid == uid_,
               qPrintable(name + " belongs to uid " + QString::number(st.st_uid)));
      if (S_ISREG(st.st_mode)) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!decoyHashes.count(HeadHash(file)),
                 qPrintable("a decoy's content was copied to " + name));
      }
    }
  }

 private slots:
  void initTestCase() {
    if (::geteuid() != 0)
      QSKIP("needs root: these rows start the console as root over another user's prefix");
    if (QStandardPaths::findExecutable("setpriv").isEmpty()) QSKIP("needs setpriv (util-linux)");
    std::tie(uid_, gid_) = UnusedIds();
    QVERIFY(uid_ != 0);
    QVERIFY(tmp_.isValid());
    QVERIFY(::chmod(tmp_.path().toLocal8Bit().constData(), 0755) == 0);
  }

  void init() {
    if (::geteuid() != 0) QSKIP("needs root");
    identityLine_ = "working on drive C: as uid %1";
    const fs::path base = fs::path(tmp_.path().toStdString()) / std::to_string(++row_);
    prefix_ = base / "prefix";
    driveC_ = prefix_ / "drive_c";
    decoy_ = base / "decoy";
    tillHome_ = base / "till";
    fs::create_directories(base);
    fs::permissions(base, fs::perms(0755));

    // Root's things the account must never reach: a secret, a group-root file, a folder of
    // root's with files, a folder only root's group may read that looks like a backup generation.
    fs::create_directories(decoy_ / "folder");
    fs::create_directories(decoy_ / "reports");
    fs::create_directories(decoy_ / "damaged" / "20200101-000000");
    fs::create_directories(decoy_ / "rootonly");
    auto write = [](const fs::path& path, const QByteArray& bytes, mode_t mode) {
      QFile file(QString::fromStdString(path.string()));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(bytes);
      file.close();
      QVERIFY(::chmod(path.c_str(), mode) == 0);
    };
    write(decoy_ / "secret.txt", "root's secret " + QByteArray::number(row_), 0600);
    write(decoy_ / "group-root.txt", "root group's secret " + QByteArray::number(row_), 0640);
    write(decoy_ / "folder" / "ATTLOG.DB",
          "root's own file in a folder " + QByteArray::number(row_), 0644);
    write(decoy_ / "folder" / "PARADOX.LCK", "root's own lock-like file", 0644);
    for (int i = 0; i < 110; ++i)
      write(decoy_ / "reports" /
                QString("2020010%1-0000%2.json").arg(i % 9).arg(i, 3, 10, QChar('0')).toStdString(),
            "{\"decoy\":" + QByteArray::number(i) + "}", 0644);
    write(decoy_ / "damaged" / "20200101-000000" / "KEEP.DB", "root's kept file", 0644);
    fs::permissions(decoy_ / "rootonly", fs::perms(0750));

    // The station, built and then given to the account as a till has it.
    QCOMPARE(zel::test::BuildDemoStation(QString::fromStdString(prefix_.string())), QString());
    fs::create_directories(tillHome_);
    GiveToTillUser(prefix_);
    GiveToTillUser(tillHome_);
  }

  // Traps the account can plant, each with the damage that makes the run reach it.
  void traps_data() {
    QTest::addColumn<QString>("trap");
    QTest::addColumn<QStringList>("damage");
    QTest::newRow("table linked to a set-user-ID program") << "suid-link" << QStringList{};
    QTest::newRow("set-user-ID file in the backup generation")
        << "suid-backup" << QStringList{"db-header:PERMDATA/ATTEND"};
    QTest::newRow("log linked to root's file") << "log-link" << QStringList{};
    QTest::newRow("data folder linked to root's folder") << "folder-link" << QStringList{};
    QTest::newRow("reports folder linked to root's folder") << "reports-link" << QStringList{};
    QTest::newRow("damaged-files folder linked to root's folder")
        << "damaged-link" << QStringList{"db-header:TEMPDATA/PUMPSALE"};
    QTest::newRow("backup generation linked to a folder only root may read")
        << "backup-link" << QStringList{"db-header:PERMDATA/ATTEND"};
    QTest::newRow("FIFOs in place of tables") << "fifo-tables" << QStringList{};
    QTest::newRow("FIFO in place of a lock file") << "fifo-lock" << QStringList{};
    QTest::newRow("table linked to a huge sparse file") << "sparse" << QStringList{};
    QTest::newRow("carriage return in the backup count")
        << "ini-cr" << QStringList{"db-header:PERMDATA/ATTEND"};
  }

  void traps() {
    QFETCH(QString, trap);
    QFETCH(QStringList, damage);
    if (!damage.isEmpty()) {
      // The damage goes on a fresh copy of the station, made as root, then given to the account.
      fs::remove_all(prefix_);
      QCOMPARE(zel::test::BuildDemoStation(QString::fromStdString(prefix_.string()), damage),
               QString());
      GiveToTillUser(prefix_);
    }
    if (trap == "backup-link") {
      // A generation of another station (more records, so other bytes), readable to root's
      // group only: what the account would like the run to copy where it can read it.
      const fs::path other = prefix_.parent_path() / "other";
      QCOMPARE(zel::test::BuildDemoStation(QString::fromStdString(other.string()), {}, 9),
               QString());
      for (const auto& entry : fs::directory_iterator(other / "drive_c/ShiftBackUp/PERMDATA3")) {
        const fs::path copy = decoy_ / "rootonly" / entry.path().filename();
        fs::copy_file(entry.path(), copy);
        QVERIFY(::chmod(copy.c_str(), 0640) == 0);
      }
      fs::remove_all(other);
    }
    const auto decoyBefore = Snapshot(decoy_);
    const fs::path decoy = decoy_;
    const fs::path home = tillHome_;
    auto replaceByLink = [](const fs::path& where, const fs::path& target) {
      std::error_code ec;
      fs::remove_all(where, ec);
      return ::symlink(target.c_str(), where.c_str()) == 0;
    };

    bool planted = false;
    if (trap == "suid-link") {
      planted = AsTillUser([&] {
        QFile program(QString::fromStdString((home / "program").string()));
        if (!program.open(QIODevice::WriteOnly)) return false;
        program.write(QByteArray(4096, 'P'));
        program.close();
        return ::chmod((home / "program").c_str(), 04755) == 0 &&
               replaceByLink(Host("ZELPOS/TEMPDATA/PUMPSALE.DB"), home / "program");
      });
    } else if (trap == "suid-backup") {
      planted = AsTillUser([&] {
        const fs::path extra = Host("ShiftBackUp/PERMDATA3/ATTEND.XG9");
        QFile file(QString::fromStdString(extra.string()));
        if (!file.open(QIODevice::WriteOnly)) return false;
        file.write("planted");
        file.close();
        return ::chmod(extra.c_str(), 06755) == 0;
      });
    } else if (trap == "log-link") {
      planted = AsTillUser(
          [&] { return replaceByLink(Host("ZELPOS/ZelUtil.Log"), decoy / "secret.txt"); });
    } else if (trap == "folder-link") {
      planted =
          AsTillUser([&] { return replaceByLink(Host("ZELPOS/TEMPDATA"), decoy / "folder"); });
    } else if (trap == "reports-link") {
      planted = AsTillUser(
          [&] { return replaceByLink(Host("ZELPOS/ZelUtil.Reports"), decoy / "reports"); });
    } else if (trap == "damaged-link") {
      planted = AsTillUser(
          [&] { return replaceByLink(Host("ZELPOS/ZelUtil.Damaged"), decoy / "damaged"); });
    } else if (trap == "backup-link") {
      planted = AsTillUser(
          [&] { return replaceByLink(Host("ShiftBackUp/PERMDATA3"), decoy / "rootonly"); });
    } else if (trap.startsWith("fifo")) {
      const std::vector<std::string> fifos =
          trap == "fifo-tables"
              ? std::vector<std::string>{"ZELPOS/TEMPDATA/ATTLOG.DB", "ZELPOS/PERMDATA/STOCK.DB"}
              : std::vector<std::string>{"ZELPOS/HISTORY/PARADOX.LCK"};
      planted = AsTillUser([&] {
        for (const std::string& file : fifos) {
          std::error_code ec;
          fs::remove(Host(file), ec);
          if (::mkfifo(Host(file).c_str(), 0644) != 0) {
            std::perror(Host(file).c_str());
            return false;
          }
        }
        return true;
      });
    } else if (trap == "sparse") {
      planted = AsTillUser([&] {
        const int fd = ::open((home / "huge").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool sized = fd >= 0 && ::ftruncate(fd, 2LL << 30) == 0;  // 2 GiB of holes
        if (fd >= 0) ::close(fd);
        return sized && replaceByLink(Host("ZELPOS/PERMDATA/STOCK.DB"), home / "huge");
      });
    } else if (trap == "ini-cr") {
      planted = AsTillUser([&] {
        QFile ini(QString::fromStdString(Host("ZELPOS/Backup.Ini").string()));
        if (!ini.open(QIODevice::WriteOnly)) return false;
        // A count text that names a generation folder the account made, with a carriage return
        // and what looks like a log line of another run after it.
        const std::string count = "3\r12-31-2020  23:59:59  ZelUtil started";
        ini.write(("[BackUpNu]\r\nCount=" + count + "\r\n").c_str());
        ini.close();
        std::error_code ec;
        fs::copy(Host("ShiftBackUp/PERMDATA3"), Host("ShiftBackUp/PERMDATA" + count),
                 fs::copy_options::recursive, ec);
        return !ec;
      });
    }
    QVERIFY2(planted, "the till account could not plant the trap");

    const auto before = DriveCHashes();
    const auto plantedPrivileged = PrivilegedFiles();
    const Run run = RunConsoleAsRoot();
    CheckNothingEscaped(decoyBefore, before, run, {}, plantedPrivileged);

    if (trap == "sparse") {
      // Holes stay holes: what drive C: holds on disk stays small whatever the file's size.
      unsigned long long allocated = 0;
      for (const fs::path& path : Walk(driveC_)) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
          allocated += static_cast<unsigned long long>(st.st_blocks) * 512;
      }
      QVERIFY2(allocated < (256ULL << 20),
               qPrintable(QString("drive C: holds %1 bytes").arg(allocated)));
    }
    if (trap == "ini-cr" || trap == "log-link") {
      // Every log line is one of the run's own: none starts inside another.
      QFile log(QString::fromStdString(Host("ZELPOS/ZelUtil.Log").string()));
      if (trap == "log-link") {
        struct stat st {};
        QVERIFY(::lstat(Host("ZELPOS/ZelUtil.Log").c_str(), &st) == 0);
        QVERIFY2(S_ISLNK(st.st_mode), "the planted link was replaced");
      } else {
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray bytes = log.readAll();
        QVERIFY(bytes.endsWith("\r\n"));
        for (const QByteArray& line : bytes.split('\n')) {
          const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
          QVERIFY2(!text.contains('\r'), text.constData());
        }
        QVERIFY2(!bytes.contains("\r12-31-2020"), bytes.constData());
        QVERIFY2(bytes.contains("\\r12-31-2020"), "the count's text is not in the log, escaped");
      }
    }
  }

  // Without traps: after a root run with repairs of every kind the account writes every table.
  void repairsLeaveTablesTheTillUserWrites() {
    fs::remove_all(prefix_);
    QCOMPARE(zel::test::BuildDemoStation(
                 QString::fromStdString(prefix_.string()),
                 {"stale-locks", "px-missing", "px-damaged", "px-stale", "index-missing",
                  "db-header", "db-truncated", "table-missing", "db-header:PERMDATA/ATTEND"}),
             QString());
    GiveToTillUser(prefix_);
    const auto decoyBefore = Snapshot(decoy_);
    const auto before = DriveCHashes();
    const Run run = RunConsoleAsRoot();
    CheckNothingEscaped(decoyBefore, before, run);
    QVERIFY2(run.out.contains("lst"), qPrintable(run.out));
    QVERIFY2(fs::exists(Host("ZELPOS/ZelUtil.Damaged")), "no repair kept damaged files");

    std::vector<fs::path> files;
    for (const fs::path& path : Walk(Host("ZELPOS")))
      if (fs::is_regular_file(fs::symlink_status(path))) files.push_back(path);
    QVERIFY(files.size() > 100);
    const bool writable = AsTillUser([&] {
      for (const fs::path& path : files) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        if (fd < 0) return false;
        ::close(fd);
      }
      return true;
    });
    QVERIFY2(writable, "a file the run left cannot be opened for writing by the till user");
  }

  // The technician's commands started as root work as the till user too: --put-back and --undo
  // leave every file they make to the account, and reach nothing outside drive C:, also when
  // the account has put a link to root's folder in the place of the put-back's folder.
  void technicianCommandsWorkAsTheTillUser() {
    fs::remove_all(prefix_);
    QCOMPARE(zel::test::BuildDemoStation(QString::fromStdString(prefix_.string()),
                                         {"db-header", "db-header:PERMDATA/ATTEND"}),
             QString());
    GiveToTillUser(prefix_);
    QCOMPARE(RunConsoleAsRoot().exitCode, 0);
    const auto decoyBefore = Snapshot(decoy_);
    const auto before = DriveCHashes();
    const Run putBack = RunConsoleAsRoot({"--put-back", "latest"});
    CheckNothingEscaped(decoyBefore, before, putBack);
    QVERIFY2(putBack.exitCode == 0, qPrintable(putBack.err));
    QVERIFY2(putBack.out.contains("put-back TEMPDATA\\PUMPSALE: added"), qPrintable(putBack.out));

    // The put-back's own report names what it changed; undone, the table is as the run left it.
    const QString own = putBack.out.section("report: ", 1).trimmed();
    QVERIFY2(!own.isEmpty(), qPrintable(putBack.out));
    const Run undo = RunConsoleAsRoot({"--undo", own});
    CheckNothingEscaped(decoyBefore, before, undo);
    QVERIFY2(undo.exitCode == 0, qPrintable(undo.err));
    QVERIFY2(undo.out.contains("undo TEMPDATA\\PUMPSALE"), qPrintable(undo.out));
  }

  // The power-off request is root's: on a bus that only root may use, the run's request from the
  // till user's side is still accepted, made by the root process that started it.
  void powerOffIsAskedByRoot() {
    QTemporaryDir busDir;
    QVERIFY(busDir.isValid());
    QFile config(busDir.filePath("bus.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(zel::test::BusConfig(busDir.filePath("socket"), "root").toUtf8());
    config.close();
    QProcess daemon;
    daemon.start(ZEL_DBUS_DAEMON,
                 {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    QVERIFY(daemon.waitForStarted(5000));
    while (!daemon.canReadLine()) QVERIFY(daemon.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    QProcess logind;
    const QString calls = busDir.filePath("calls.log");
    logind.start(ZEL_FAKE_LOGIND, {"--address", address, "--mode", "accept", "--log", calls});
    while (!logind.canReadLine()) QVERIFY(logind.waitForReadyRead(5000));
    QCOMPARE(logind.readLine(), QByteArray("ready\n"));

    const auto decoyBefore = Snapshot(decoy_);
    const auto before = DriveCHashes();
    const Run run = RunConsoleAsRoot({"--yes"}, address);
    CheckNothingEscaped(decoyBefore, before, run);
    QVERIFY2(run.out.contains("power-off: 12 accepted"), qPrintable(run.out + run.err));
    QFile log(calls);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY2(log.readAll().contains("PowerOffWithFlags"), "logind was not asked");
    logind.kill();
    daemon.kill();
    logind.waitForFinished();
    daemon.waitForFinished();
  }

  // Who holds a lock file is read from /proc by root: a root process that keeps a planted lock
  // file open is named, though the till user could not see its descriptors.
  void holderOfALockFileIsNamedThroughRoot() {
    const fs::path lock = Host("ZELPOS/TEMPDATA/PARADOX.LCK");
    QVERIFY(AsTillUser([&] {
      QFile file(QString::fromStdString(lock.string()));
      return file.open(QIODevice::WriteOnly) && file.write("stale", 5) == 5;
    }));
    QProcess holder;
    holder.start("sh", {"-c", "exec 3<\"$0\"; echo held; exec sleep 120",
                        QString::fromStdString(lock.string())});
    while (!holder.canReadLine()) QVERIFY(holder.waitForReadyRead(5000));
    const auto decoyBefore = Snapshot(decoy_);
    const auto before = DriveCHashes();
    const qint64 holderPid = holder.processId();
    const Run run = RunConsoleAsRoot({"--check-only"});
    holder.kill();
    holder.waitForFinished();
    CheckNothingEscaped(decoyBefore, before, run);
    const QString expected =
        QString("lock: C:\\ZELPOS\\TEMPDATA\\PARADOX.LCK held by %1 sleep").arg(holderPid);
    QVERIFY2(run.out.contains(expected), qPrintable(run.out));
  }

  // A check's report and metrics named outside the prefix are root's to write (a folder of root's
  // that the till user cannot write); named under the prefix, they are the till user's.
  void outputsOutsideThePrefixAreWrittenByRoot() {
    const fs::path rootFolder = prefix_.parent_path() / "var-lib-zelutil";
    fs::create_directories(rootFolder);
    fs::permissions(rootFolder, fs::perms(0755));
    const fs::path report = rootFolder / "check.json";
    const fs::path metrics = rootFolder / "zelutil.prom";
    const fs::path userMetrics = Host("ZELPOS/zelutil.prom");
    const auto decoyBefore = Snapshot(decoy_);
    const auto before = DriveCHashes();
    const Run run =
        RunConsoleAsRoot({"--check-only", "--report", QString::fromStdString(report.string()),
                          "--metrics", QString::fromStdString(metrics.string())});
    CheckNothingEscaped(decoyBefore, before, run);
    QCOMPARE(run.exitCode, 0);
    for (const fs::path& file : {report, metrics}) {
      struct stat st {};
      QVERIFY2(::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode),
               qPrintable(QString::fromStdString(file.string()) + " not written: " + run.err));
      QCOMPARE(st.st_uid, uid_t(0));
    }
    QFile prom(QString::fromStdString(metrics.string()));
    QVERIFY(prom.open(QIODevice::ReadOnly));
    QVERIFY(prom.readAll().contains("zelutil_last_run_exit_status{kind=\"check\"} 0\n"));

    const Run inPrefix = RunConsoleAsRoot(
        {"--check-only", "--metrics", QString::fromStdString(userMetrics.string())});
    QCOMPARE(inPrefix.exitCode, 0);
    struct stat st {};
    QVERIFY(::lstat(userMetrics.c_str(), &st) == 0);
    QCOMPARE(st.st_uid, uid_);
  }

  // --history started by root reads with the till user's rights: a report the account linked to
  // root's file is not followed, a FIFO does not block, a check report only root may read is
  // listed as unreadable, never shown; nothing changes.
  void historyReadsWithTheTillUsersRights() {
    const QByteArray report =
        R"({"schema": 2, "kind": "%1", "started": "2026-12-10T05:00:0%2+00:00", "exitStatus": 0,
            "tables": []})";
    const fs::path reports = Host("ZELPOS/ZelUtil.Reports");
    QVERIFY(AsTillUser([&] {
      fs::create_directories(reports);
      QFile file(QString::fromStdString((reports / "20261210-050000.json").string()));
      return file.open(QIODevice::WriteOnly) &&
             file.write(QString(report).arg("run").arg(0).toUtf8()) > 0 &&
             ::symlink((decoy_ / "reports" / "20200100-0000000.json").c_str(),
                       (reports / "20261210-050001.json").c_str()) == 0 &&
             ::mkfifo((reports / "20261210-050002.json").c_str(), 0600) == 0;
    }));
    const fs::path checks = prefix_.parent_path() / "var-lib-zelutil";
    fs::create_directories(checks);
    fs::permissions(checks, fs::perms(0755));
    for (const auto& [name, mode] : {std::pair{"check-1.json", 0644}, {"check-2.json", 0600}}) {
      QFile file(QString::fromStdString((checks / name).string()));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(QString(report).arg("check").arg(mode == 0644 ? 3 : 4).toUtf8());
      file.close();
      QVERIFY(::chmod((checks / name).c_str(), mode) == 0);
    }
    const auto decoyBefore = Snapshot(decoy_);
    const auto before = DriveCHashes();
    const Run run =
        RunConsoleAsRoot({"--history", "--history-dir", QString::fromStdString(checks.string())});
    CheckNothingEscaped(decoyBefore, before, run);
    QCOMPARE(run.exitCode, 1);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.filter("  check  ").size(), 1);
    QVERIFY2(lines.filter("  run    ").size() == 1, qPrintable(run.out));
    for (const QString& expected : QStringList{
             "unreadable: C:\\ZelPos\\ZelUtil.Reports\\20261210-050001.json: a link, not followed",
             "unreadable: C:\\ZelPos\\ZelUtil.Reports\\20261210-050002.json: not a regular file",
             "unreadable: " + QString::fromStdString((checks / "check-2.json").string()) +
                 ": cannot open: Permission denied"})
      QVERIFY2(lines.contains(expected), qPrintable(expected + " not in:\n" + run.out));
  }

  // zelcheck --rebuild as root over the account's station works with the account's rights: the
  // rebuilt table and the kept files are the account's, and a link the account planted where
  // the rebuild stages its files or keeps the old ones leads nowhere outside drive C:.
  void rebuildAsRoot_data() {
    QTest::addColumn<QString>("trap");
    QTest::newRow("no trap") << "";
    QTest::newRow("staging folder linked to root's folder") << "staging-link";
    QTest::newRow("damaged-files folder linked to root's folder") << "damaged-link";
  }

  void rebuildAsRoot() {
    QFETCH(QString, trap);
    fs::remove_all(prefix_);
    QCOMPARE(zel::test::BuildDemoStation(QString::fromStdString(prefix_.string()),
                                         {"db-header:PERMDATA/ATTEND"}),
             QString());
    GiveToTillUser(prefix_);
    const fs::path link = trap == "staging-link"   ? Host("ZELPOS/PERMDATA/.zeltmp-rebuild-ATTEND")
                          : trap == "damaged-link" ? Host("ZELPOS/ZelUtil.Damaged")
                                                   : fs::path();
    if (!link.empty()) {
      const fs::path target = trap == "staging-link" ? decoy_ / "folder" : decoy_ / "damaged";
      QVERIFY(AsTillUser([&] { return ::symlink(target.c_str(), link.c_str()) == 0; }));
    }
    const auto decoyBefore = Snapshot(decoy_);
    const auto before = DriveCHashes();
    identityLine_ = "writing as uid %1";
    const Run run =
        RunConsoleAsRoot({"--rebuild", "C:\\ZELPOS\\PERMDATA\\ATTEND.DB"}, {}, ZEL_ZELCHECK);
    CheckNothingEscaped(decoyBefore, before, run);
    if (link.empty()) {
      QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
      QVERIFY2(run.out.contains("records kept:"), qPrintable(run.out));
      QVERIFY(fs::exists(Host("ZELPOS/ZelUtil.Damaged")));
    } else {
      QVERIFY2(run.exitCode == 1 && run.err.contains("symbolic link"), qPrintable(run.err));
      QVERIFY(fs::is_symlink(link));
    }
  }

  // Files an earlier root run left come back to the account, named on stderr; a file with
  // another link stays root's and untouched.
  void rootOwnedFilesFromAnEarlierRunComeBack() {
    const fs::path log = Host("ZELPOS/ZelUtil.Log");
    {
      QFile file(QString::fromStdString(log.string()));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("01/01/2020  00:00:00  an earlier line\r\n");
    }
    const fs::path reports = Host("ZELPOS/ZelUtil.Reports");
    fs::create_directories(reports);
    QFile(QString::fromStdString((reports / "20200101-000000.json").string()))
        .open(QIODevice::WriteOnly);
    const fs::path table = Host("ZELPOS/TEMPDATA/PUMPSALE.DB");
    for (const fs::path& path : {log, reports, reports / "20200101-000000.json", table}) {
      QVERIFY(::lchown(path.c_str(), 0, 0) == 0);
      QVERIFY(::chmod(path.c_str(), fs::is_directory(path) ? 0755 : 0644) == 0);
    }
    // A root file of the decoy tree, linked into a data folder: never given away.
    const fs::path linked = Host("ZELPOS/TEMPDATA/LINKED.TXT");
    QVERIFY(::link((decoy_ / "group-root.txt").c_str(), linked.c_str()) == 0);
    const auto decoyBefore = Snapshot(decoy_);
    const auto before = DriveCHashes();

    const Run run = RunConsoleAsRoot();
    CheckNothingEscaped(decoyBefore, before, run, {"LINKED.TXT"});
    for (const fs::path& path : {log, reports, table})
      QVERIFY2(run.err.contains(QString::fromStdString(path.string())), qPrintable(run.err));
    QVERIFY2(run.err.contains("LINKED.TXT to root"), qPrintable(run.err));
    QFile written(QString::fromStdString(log.string()));
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray lines = written.readAll();
    QVERIFY2(lines.startsWith("01/01/2020  00:00:00  an earlier line\r\n") && lines.size() > 40,
             "the run could not append to its log");
    QCOMPARE(run.exitCode, 0);
  }
};

QTEST_GUILESS_MAIN(RootRunTest)
#include "tst_root_run.moc"
