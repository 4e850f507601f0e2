// Windows-like file operations on a temporary Wine prefix.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <optional>
#include <vector>

#include "platform/WindowsFiles.h"
#include "platform/posix/FileLockProbe.h"
#include "platform/posix/FileSyscalls.h"
#include "platform/posix/WindowsErrors.h"
#include "tests/support/StderrCapture.h"

using zel::platform::HostFiles;

namespace {

// Failing system calls for what a healthy disk will not do on demand.
int g_writesBeforeFailure = 0;
int g_writeErrno = 0;
int g_fsyncCalls = 0;
int g_fsyncErrno = 0;

ssize_t FailingWrite(int fd, const void* data, size_t size) {
  if (g_writesBeforeFailure-- <= 0) {
    errno = g_writeErrno;
    return -1;
  }
  return ::write(fd, data, size < 4 ? size : 4);  // short writes on the way
}

int CountingFsync(int fd) {
  ++g_fsyncCalls;
  if (g_fsyncErrno != 0) {
    errno = g_fsyncErrno;
    return -1;
  }
  return ::fsync(fd);
}

// What each fsync was given: the file or folder behind the descriptor.
struct Synced {
  dev_t dev;
  ino_t ino;
  bool folder;
  bool operator==(const Synced&) const = default;
};
std::vector<Synced> g_synced;
int g_folderFsyncErrno = 0;

int RecordingFsync(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  g_synced.push_back({st.st_dev, st.st_ino, S_ISDIR(st.st_mode)});
  if (S_ISDIR(st.st_mode) && g_folderFsyncErrno != 0) {
    errno = g_folderFsyncErrno;
    return -1;
  }
  return ::fsync(fd);
}

// A disk with g_freeMiB MiB free, for the room a copy needs.
qint64 g_freeMiB = 0;
int SmallDisk(const char* path, struct statvfs* info) {
  if (::statvfs(path, info) != 0) return -1;
  info->f_frsize = 1 << 20;
  info->f_bavail = static_cast<fsblkcnt_t>(g_freeMiB);
  return 0;
}

// A listening Unix socket at a path for as long as it lives.
class UnixSocket {
 public:
  explicit UnixSocket(const QByteArray& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.constData());
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~UnixSocket() {
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  int fd_ = -1;
};

// Runs `call` in a child process and gives its result; a child still running after `seconds`
// (a hang) is killed and the row fails, so the suite goes on.
template <typename Call>
bool RunsWithin(int seconds, Call call) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(call() ? 0 : 1);
  for (int waited = 0; waited < seconds * 100; ++waited) {
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) == child)
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    ::usleep(10000);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  QTest::qFail("the call hung and was killed", __FILE__, __LINE__);
  return false;
}

Synced Identity(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {0, 0, false};
  return {st.st_dev, st.st_ino, S_ISDIR(st.st_mode)};
}

// A second process holding a file until released: with an fcntl lock, or (lock false) only
// open, as Wine holds every file a Windows program has open.
class LockHolder {
 public:
  explicit LockHolder(const QByteArray& path, bool takeLock = true) {
    int toChild[2];
    int fromChild[2];
    if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(path.constData(), O_RDWR);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      char ready = (fd >= 0 && (!takeLock || ::fcntl(fd, F_SETLK, &lock) == 0)) ? 'y' : 'n';
      (void)::write(fromChild[1], &ready, 1);
      char done;
      (void)::read(toChild[0], &done, 1);
      ::_exit(0);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    release_ = toChild[1];
    char ready = 'n';
    (void)::read(fromChild[0], &ready, 1);
    ::close(fromChild[0]);
    locked_ = ready == 'y';
  }
  ~LockHolder() {
    if (pid_ <= 0) return;
    (void)::write(release_, "x", 1);
    ::close(release_);
    ::waitpid(pid_, nullptr, 0);
  }
  bool holding() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

}  // namespace

class HostFilesTest : public QObject {
  Q_OBJECT

  QTemporaryDir prefix_;
  QString driveC_;

  void write(const QString& relative, const QByteArray& bytes) {
    QFile f(driveC_ + "/" + relative);
    QVERIFY(QDir().mkpath(QFileInfo(f).path()));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  }
  QByteArray read(const QString& relative) {
    QFile f(driveC_ + "/" + relative);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  QStringList leftovers(const QString& folder) {
    return QDir(driveC_ + "/" + folder).entryList({".zelcopy-*"}, QDir::Files | QDir::Hidden);
  }

 private slots:
  void initTestCase() {
    QVERIFY(prefix_.isValid());
    qputenv("WINEPREFIX", prefix_.path().toLocal8Bit());
    driveC_ = prefix_.path() + "/drive_c";
  }
  void init() {
    QDir(driveC_).removeRecursively();
    QVERIFY(QDir().mkpath(driveC_ + "/ZelPos/TEMPDATA"));
    zel::platform::HostFileSyscalls() = {};
    g_fsyncCalls = 0;
    g_fsyncErrno = 0;
  }

  void fileExistsCountsOnlyRegularFiles() {
    write("ZelPos/TEMPDATA/ATTLOG.DB", "x");
    QVERIFY(HostFiles().FileExists("C:\\ZELPOS\\TEMPDATA\\ATTLOG.DB"));
    QVERIFY(HostFiles().FileExists("c:\\zelpos\\tempdata\\attlog.db"));
    QVERIFY(!HostFiles().FileExists("C:\\ZelPos\\TEMPDATA"));
    QVERIFY(!HostFiles().FileExists("C:\\ZelPos\\TEMPDATA\\NONE.DB"));
  }

  void deleteFile() {
    write("PDOXUSRS.NET", "x");
    QVERIFY(HostFiles().DeleteFile("C:\\pdoxusrs.net"));
    QVERIFY(!QFile::exists(driveC_ + "/PDOXUSRS.NET"));
    QVERIFY(!HostFiles().DeleteFile("C:\\PDOXUSRS.NET"));  // already gone
    QVERIFY(!HostFiles().DeleteFile("C:\\ZelPos\\TEMPDATA"));
    QVERIFY(QDir(driveC_ + "/ZelPos/TEMPDATA").exists());
  }

  void deleteRefusesFileLockedByAnotherProcess() {
    write("ZelPos/TEMPDATA/PARADOX.LCK", "lock");
    {
      LockHolder holder(QFile::encodeName(driveC_ + "/ZelPos/TEMPDATA/PARADOX.LCK"));
      QVERIFY(holder.holding());
      QVERIFY(!HostFiles().DeleteFile("C:\\ZelPos\\TEMPDATA\\PARADOX.LCK"));
      QVERIFY(QFile::exists(driveC_ + "/ZelPos/TEMPDATA/PARADOX.LCK"));
    }
    QVERIFY(HostFiles().DeleteFile("C:\\ZelPos\\TEMPDATA\\PARADOX.LCK"));
  }

  // Windows refuses to delete a file another program has open even without a lock; a file
  // open only in this process, or nowhere, goes.
  void deleteRefusesFileOpenInAnotherProcess_data() {
    QTest::addColumn<QString>("openIn");
    QTest::addColumn<bool>("inBatch");
    QTest::addColumn<bool>("deleted");
    for (const bool batch : {false, true}) {
      const char* how = batch ? "in a batch" : "alone";
      QTest::addRow("open in another process, %s", how) << "other" << batch << false;
      QTest::addRow("open in this process, %s", how) << "self" << batch << true;
      QTest::addRow("open nowhere, %s", how) << "none" << batch << true;
    }
  }
  void deleteRefusesFileOpenInAnotherProcess() {
    QFETCH(QString, openIn);
    QFETCH(bool, inBatch);
    QFETCH(bool, deleted);
    write("PDOXUSRS.NET", "net");
    const QByteArray host = QFile::encodeName(driveC_ + "/PDOXUSRS.NET");
    std::optional<LockHolder> other;
    if (openIn == "other") {
      other.emplace(host, false);
      QVERIFY(other->holding());
    }
    const int own = openIn == "self" ? ::open(host.constData(), O_RDWR | O_CLOEXEC) : -1;
    std::optional<zel::platform::DeletionBatch> batch;
    if (inBatch) batch.emplace(HostFiles());
    QCOMPARE(HostFiles().DeleteFile("C:\\PDOXUSRS.NET"), deleted);
    QCOMPARE(QFile::exists(driveC_ + "/PDOXUSRS.NET"), !deleted);
    if (own >= 0) ::close(own);
    batch.reset();
    other.reset();
    if (!deleted) QVERIFY(HostFiles().DeleteFile("C:\\PDOXUSRS.NET"));  // once it is closed
  }

  // The session's own lock files go after each table it opens: only another process's lock
  // keeps them, and no /proc scan is made for them.
  void sessionLockFileGoesUnlessLockedElsewhere_data() {
    QTest::addColumn<bool>("lockedElsewhere");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("locked by another process") << true << false;
    QTest::newRow("open in another process") << false << true;
  }
  void sessionLockFileGoesUnlessLockedElsewhere() {
    QFETCH(bool, lockedElsewhere);
    QFETCH(bool, deleted);
    write("ZelPos/TEMPDATA/PARADOX.LCK", "lock");
    LockHolder other(QFile::encodeName(driveC_ + "/ZelPos/TEMPDATA/PARADOX.LCK"), lockedElsewhere);
    QVERIFY(other.holding());
    const std::size_t before = zel::platform::OpenFilesScanCount();
    QCOMPARE(HostFiles().DeleteSessionLockFile("C:\\ZelPos\\TEMPDATA\\PARADOX.LCK"), deleted);
    QCOMPARE(QFile::exists(driveC_ + "/ZelPos/TEMPDATA/PARADOX.LCK"), !deleted);
    QCOMPARE(zel::platform::OpenFilesScanCount(), before);
  }

  // The look at other processes' open files costs a /proc scan: a batch makes one, at its first
  // deletion, however many files it deletes; outside a batch each deletion makes its own.
  void deletionBatchScansOnce() {
    const QStringList names{"PARADOX.LCK", "PDOXUSRS.LCK", "A.DB", "A.PX"};
    const auto writeAll = [&] {
      for (const QString& name : names) write("ZelPos/TEMPDATA/" + name, "x");
    };
    const auto deleteAll = [&] {
      for (const QString& name : names)
        QVERIFY(HostFiles().DeleteFile(("C:\\ZelPos\\TEMPDATA\\" + name).toStdString()));
    };
    using zel::platform::OpenFilesScanCount;

    writeAll();
    std::size_t before = OpenFilesScanCount();
    {
      zel::platform::DeletionBatch batch(HostFiles());
      QCOMPARE(OpenFilesScanCount(), before);  // nothing deleted yet, nothing scanned
      deleteAll();
      zel::platform::DeletionBatch nested(HostFiles());
      QVERIFY(!HostFiles().DeleteFile("C:\\ZelPos\\TEMPDATA\\A.DB"));  // gone already
    }
    QCOMPARE(OpenFilesScanCount(), before + 1);

    writeAll();
    before = OpenFilesScanCount();
    deleteAll();
    QCOMPARE(OpenFilesScanCount(), before + std::size_t(names.size()));

    // A later batch looks afresh: a file opened elsewhere since the last batch is seen.
    write("ZelPos/TEMPDATA/A.DB", "x");
    { zel::platform::DeletionBatch earlier(HostFiles()); }
    LockHolder holder(QFile::encodeName(driveC_ + "/ZelPos/TEMPDATA/A.DB"), false);
    QVERIFY(holder.holding());
    zel::platform::DeletionBatch batch(HostFiles());
    QVERIFY(!HostFiles().DeleteFile("C:\\ZelPos\\TEMPDATA\\A.DB"));
  }

  void copyFile() {
    write("ZelPos/TEMPDATA/A.DB", "new contents");
    QVERIFY(HostFiles().CopyFile("C:\\ZelPos\\TEMPDATA\\A.DB", "C:\\ZelPos\\TEMPDATA\\B.DB", true));
    QCOMPARE(read("ZelPos/TEMPDATA/B.DB"), QByteArray("new contents"));
    QCOMPARE(QFileInfo(driveC_ + "/ZelPos/TEMPDATA/B.DB").lastModified(),
             QFileInfo(driveC_ + "/ZelPos/TEMPDATA/A.DB").lastModified());

    write("ZelPos/TEMPDATA/C.DB", "old");
    QVERIFY(
        !HostFiles().CopyFile("C:\\ZelPos\\TEMPDATA\\A.DB", "C:\\ZelPos\\TEMPDATA\\C.DB", true));
    QCOMPARE(read("ZelPos/TEMPDATA/C.DB"), QByteArray("old"));
    QVERIFY(
        HostFiles().CopyFile("C:\\ZelPos\\TEMPDATA\\A.DB", "C:\\ZelPos\\TEMPDATA\\C.DB", false));
    QCOMPARE(read("ZelPos/TEMPDATA/C.DB"), QByteArray("new contents"));
    QVERIFY(leftovers("ZelPos/TEMPDATA").isEmpty());
  }

  void copyFailures_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::newRow("missing source") << "C:\\ZelPos\\TEMPDATA\\NONE.DB"
                                    << "C:\\ZelPos\\TEMPDATA\\C.DB";
    QTest::newRow("source is a folder") << "C:\\ZelPos\\TEMPDATA"
                                        << "C:\\ZelPos\\TEMPDATA\\C.DB";
    QTest::newRow("missing target folder") << "C:\\ZelPos\\TEMPDATA\\A.DB"
                                           << "C:\\ZelPos\\NONE\\C.DB";
    QTest::newRow("target is a folder") << "C:\\ZelPos\\TEMPDATA\\A.DB"
                                        << "C:\\ZelPos\\TEMPDATA";
  }
  void copyFailures() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    write("ZelPos/TEMPDATA/A.DB", "data");
    write("ZelPos/TEMPDATA/C.DB", "old");
    QVERIFY(!HostFiles().CopyFile(from.toStdString(), to.toStdString(), false));
    QCOMPARE(read("ZelPos/TEMPDATA/C.DB"), QByteArray("old"));
    QVERIFY(QDir(driveC_ + "/ZelPos/TEMPDATA").exists());
    QVERIFY(!QDir(driveC_ + "/ZelPos/NONE").exists());
    QVERIFY(leftovers("ZelPos/TEMPDATA").isEmpty());
  }

  void copyThatFailsHalfwayKeepsTheTarget() {
    write("ZelPos/TEMPDATA/A.DB", QByteArray(200, 'n'));
    write("ZelPos/TEMPDATA/C.DB", "old");
    g_writesBeforeFailure = 3;
    g_writeErrno = ENOSPC;
    zel::platform::HostFileSyscalls().write = FailingWrite;
    QVERIFY(
        !HostFiles().CopyFile("C:\\ZelPos\\TEMPDATA\\A.DB", "C:\\ZelPos\\TEMPDATA\\C.DB", false));
    QCOMPARE(read("ZelPos/TEMPDATA/C.DB"), QByteArray("old"));
    QVERIFY(leftovers("ZelPos/TEMPDATA").isEmpty());
  }

  void appendCreatesAndAppends() {
    QCOMPARE(HostFiles().AppendToFile("C:\\ZelPos\\ZelUtil.Log", "one\r\n"), 0);
    QCOMPARE(HostFiles().AppendToFile("c:\\zelpos\\zelutil.log", "two\r\n"), 0);
    QCOMPARE(read("ZelPos/ZelUtil.Log"), QByteArray("one\r\ntwo\r\n"));
  }

  // What can be provoked for real, as root too.
  void appendErrors_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("code");
    QTest::newRow("missing folder") << "C:\\NoSuchFolder\\ZelUtil.Log" << 3;
    QTest::newRow("folder is a file") << "C:\\ZelPos\\ZelUtil.Log\\x.log" << 3;
    QTest::newRow("file is a folder") << "C:\\ZelPos\\TEMPDATA" << 5;
    // Only a regular file is appended to: a device, a FIFO or a link in the log's place is
    // refused as access denied (a full disk is provoked in appendSyncsAndTakesBackAFailedLine).
    QTest::newRow("device") << "/dev/full" << 5;
    QTest::newRow("FIFO without reader") << "C:\\ZelPos\\fifo" << 5;
    QTest::newRow("link to a file") << "C:\\ZelPos\\link.log" << 5;
  }
  void appendErrors() {
    QFETCH(QString, path);
    QFETCH(int, code);
    write("ZelPos/ZelUtil.Log", "kept\r\n");
    QVERIFY(::mkfifo(QFile::encodeName(driveC_ + "/ZelPos/fifo").constData(), 0600) == 0);
    QVERIFY(QFile::link(driveC_ + "/ZelPos/ZelUtil.Log", driveC_ + "/ZelPos/link.log"));
    QCOMPARE(HostFiles().AppendToFile(path.toStdString(), "line\r\n"), code);
    QVERIFY(!QDir(driveC_ + "/NoSuchFolder").exists());  // the folder is never created
    QCOMPARE(read("ZelPos/ZelUtil.Log"), QByteArray("kept\r\n"));
  }

  // A line a power cut tore (no line end) is ended before the next one, so the next run's
  // first line never sticks to it; a file that ends in a line end is appended to as it is.
  void appendEndsATornLastLine_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("empty") << QByteArray("") << QByteArray("new\r\n");
    QTest::newRow("whole line") << QByteArray("old\r\n") << QByteArray("old\r\nnew\r\n");
    QTest::newRow("torn line") << QByteArray("old\r\nha") << QByteArray("old\r\nha\r\nnew\r\n");
    QTest::newRow("torn between CR and LF")
        << QByteArray("old\r") << QByteArray("old\r\r\nnew\r\n");
  }
  void appendEndsATornLastLine() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    write("ZelPos/ZelUtil.Log", before);
    QCOMPARE(HostFiles().AppendToFile("C:\\ZelPos\\ZelUtil.Log", "new\r\n"), 0);
    QCOMPARE(read("ZelPos/ZelUtil.Log"), after);
  }

  // Permission bits of what the program makes: a new file 0666 and a folder 0777 less the
  // umask, a replaced file's own bits kept, never a set-user-ID, set-group-ID or sticky bit.
  void modesOfWhatIsMade_data() {
    QTest::addColumn<int>("umask");
    QTest::addColumn<int>("sourceMode");
    QTest::addColumn<int>("replacedMode");  // -1: the copy makes a new file
    QTest::addColumn<int>("expected");
    QTest::newRow("new, umask 022") << 022 << 0644 << -1 << 0644;
    QTest::newRow("new, umask 002") << 002 << 0600 << -1 << 0664;
    QTest::newRow("set-user-ID source") << 022 << 04755 << -1 << 0644;
    QTest::newRow("set-group-ID, sticky source") << 002 << 03775 << -1 << 0664;
    QTest::newRow("replaced keeps its bits") << 022 << 0600 << 0660 << 0660;
    QTest::newRow("set-user-ID source over a file") << 022 << 06777 << 0640 << 0640;
  }
  void modesOfWhatIsMade() {
    QFETCH(int, umask);
    QFETCH(int, sourceMode);
    QFETCH(int, replacedMode);
    QFETCH(int, expected);
    const mode_t old = ::umask(static_cast<mode_t>(umask));
    const auto restore = qScopeGuard([old] { ::umask(old); });
    const QByteArray source = QFile::encodeName(driveC_ + "/ZelPos/TEMPDATA/A.DB");
    const QByteArray target = QFile::encodeName(driveC_ + "/ZelPos/TEMPDATA/B.DB");
    write("ZelPos/TEMPDATA/A.DB", "data");
    QCOMPARE(::chmod(source.constData(), static_cast<mode_t>(sourceMode)), 0);
    if (replacedMode >= 0) {
      write("ZelPos/TEMPDATA/B.DB", "old");
      QCOMPARE(::chmod(target.constData(), static_cast<mode_t>(replacedMode)), 0);
    }
    QVERIFY(
        HostFiles().CopyFile("C:\\ZelPos\\TEMPDATA\\A.DB", "C:\\ZelPos\\TEMPDATA\\B.DB", false));
    struct stat st {};
    QCOMPARE(::stat(target.constData(), &st), 0);
    QCOMPARE(static_cast<int>(st.st_mode & 07777), expected);

    // A move over a file (a restore's swap) keeps the replaced file's bits as well.
    write("ZelPos/TEMPDATA/C.DB", "staged");
    QCOMPARE(::chmod(QFile::encodeName(driveC_ + "/ZelPos/TEMPDATA/C.DB").constData(), 0600), 0);
    QVERIFY(HostFiles().MoveFile("C:\\ZelPos\\TEMPDATA\\C.DB", "C:\\ZelPos\\TEMPDATA\\B.DB"));
    QCOMPARE(::stat(target.constData(), &st), 0);
    QCOMPARE(static_cast<int>(st.st_mode & 07777), expected);

    // New folders, and the log made new.
    QVERIFY(HostFiles().CreateDirectories("C:\\ZelPos\\ZelUtil.Damaged\\R\\TEMPDATA"));
    QCOMPARE(::stat(QFile::encodeName(driveC_ + "/ZelPos/ZelUtil.Damaged/R").constData(), &st), 0);
    QCOMPARE(static_cast<int>(st.st_mode & 07777), 0777 & ~umask);
    QCOMPARE(HostFiles().AppendToFile("C:\\ZelPos\\New.Log", "x\r\n"), 0);
    QCOMPARE(::stat(QFile::encodeName(driveC_ + "/ZelPos/New.Log").constData(), &st), 0);
    QCOMPARE(static_cast<int>(st.st_mode & 07777), 0666 & ~umask);
  }

  // Sources that are no regular file are refused at once, a FIFO without a writer included:
  // a hang fails the row through the watchdog rather than stopping the suite.
  void copyRefusesWhatIsNoRegularFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("socket") << "socket";
    QTest::newRow("device") << "device";
  }
  void copyRefusesWhatIsNoRegularFile() {
    QFETCH(QString, kind);
    const QString source = driveC_ + "/ZelPos/TEMPDATA/A.DB";
    if (kind == "fifo") QCOMPARE(::mkfifo(QFile::encodeName(source).constData(), 0600), 0);
    if (kind == "device") QVERIFY(QFile::link("/dev/zero", source));
    std::optional<UnixSocket> socket;
    if (kind == "socket") socket.emplace(QFile::encodeName(source));
    const bool copied = RunsWithin(10, [] {
      return HostFiles().CopyFile("C:\\ZelPos\\TEMPDATA\\A.DB", "C:\\ZelPos\\TEMPDATA\\B.DB",
                                  false);
    });
    QVERIFY(!copied);
    QVERIFY(!QFileInfo::exists(driveC_ + "/ZelPos/TEMPDATA/B.DB"));
    QVERIFY(leftovers("ZelPos/TEMPDATA").isEmpty());
  }

  // A sparse source is copied with its holes kept: the copy takes no more blocks than it.
  void sparseSourceKeepsItsHoles() {
    const QByteArray source = QFile::encodeName(driveC_ + "/ZelPos/TEMPDATA/A.DB");
    const int fd = ::open(source.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    constexpr off_t kSize = off_t(1) << 30;  // 1 GiB, nearly all of it a hole
    QCOMPARE(::pwrite(fd, "head", 4, 0), ssize_t(4));
    QCOMPARE(::pwrite(fd, "middle", 6, kSize / 2), ssize_t(6));
    QCOMPARE(::pwrite(fd, "tail", 4, kSize - 4), ssize_t(4));
    ::close(fd);
    struct stat sourceStat {};
    QCOMPARE(::stat(source.constData(), &sourceStat), 0);
    if (sourceStat.st_blocks * 512 >= kSize)
      QSKIP("the temporary folder's file system keeps no holes");

    QVERIFY(
        HostFiles().CopyFile("C:\\ZelPos\\TEMPDATA\\A.DB", "C:\\ZelPos\\TEMPDATA\\B.DB", false));
    const QByteArray target = QFile::encodeName(driveC_ + "/ZelPos/TEMPDATA/B.DB");
    struct stat st {};
    QCOMPARE(::stat(target.constData(), &st), 0);
    QCOMPARE(st.st_size, kSize);
    QVERIFY2(st.st_blocks <= sourceStat.st_blocks + 64,
             qPrintable(
                 QString("%1 blocks copied from %2").arg(st.st_blocks).arg(sourceStat.st_blocks)));
    QFile copy(QFile::decodeName(target));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.read(4), QByteArray("head"));
    QVERIFY(copy.seek(kSize / 2 - 2));
    QCOMPARE(copy.read(10), QByteArray("\0\0middle\0\0", 10));
    QVERIFY(copy.seek(kSize - 4));
    QCOMPARE(copy.read(4), QByteArray("tail"));
  }

  // Before a copy the disk must hold the source's blocks plus 16 MiB; else the copy fails at
  // once, leaves nothing behind and says why on standard error, naming the file and the sizes.
  void copyNeedsRoom_data() {
    QTest::addColumn<qint64>("freeBytes");
    QTest::addColumn<bool>("copied");
    QTest::newRow("room") << qint64(64) << true;
    QTest::newRow("just the margin short") << qint64(16) << false;
    QTest::newRow("nothing free") << qint64(0) << false;
  }
  void copyNeedsRoom() {
    QFETCH(qint64, freeBytes);
    QFETCH(bool, copied);
    write("ZelPos/TEMPDATA/A.DB", QByteArray(1 << 20, 'd'));
    write("ZelPos/TEMPDATA/B.DB", "old");
    g_freeMiB = freeBytes;
    zel::platform::HostFileSyscalls().statvfs = SmallDisk;
    bool result = false;
    const QString said = QString::fromLocal8Bit(zel::test::CaptureStderr([&] {
      result =
          HostFiles().CopyFile("C:\\ZelPos\\TEMPDATA\\A.DB", "C:\\ZelPos\\TEMPDATA\\B.DB", false);
    }));
    QCOMPARE(result, copied);
    QCOMPARE(read("ZelPos/TEMPDATA/B.DB").size(), copied ? 1 << 20 : 3);
    QVERIFY(leftovers("ZelPos/TEMPDATA").isEmpty());
    if (copied) {
      QVERIFY(said.isEmpty());
    } else {
      QVERIFY2(said.contains("cannot copy " + driveC_ + "/ZelPos/TEMPDATA/A.DB"), qPrintable(said));
      QVERIFY2(said.contains(QString("%1 bytes free").arg(freeBytes << 20)), qPrintable(said));
      QVERIFY2(said.contains("16777216 to spare"), qPrintable(said));
    }
  }

  void appendSyncsAndTakesBackAFailedLine_data() {
    QTest::addColumn<bool>("failWrite");
    QTest::addColumn<int>("err");
    QTest::addColumn<int>("code");
    QTest::newRow("synced") << false << 0 << 0;
    QTest::newRow("write: disk full") << true << ENOSPC << 101;
    QTest::newRow("write: quota") << true << EDQUOT << 101;
    QTest::newRow("sync: I/O error") << false << EIO << 1117;
  }
  void appendSyncsAndTakesBackAFailedLine() {
    QFETCH(bool, failWrite);
    QFETCH(int, err);
    QFETCH(int, code);
    write("ZelPos/ZelUtil.Log", "kept\r\n");
    auto& calls = zel::platform::HostFileSyscalls();
    calls.fsync = CountingFsync;
    if (failWrite) {
      calls.write = FailingWrite;
      g_writesBeforeFailure = 2;  // two short writes land before the failure
      g_writeErrno = err;
    } else {
      g_fsyncErrno = err;
    }
    QCOMPARE(HostFiles().AppendToFile("C:\\ZelPos\\ZelUtil.Log", "a longer line\r\n"), code);
    QCOMPARE(read("ZelPos/ZelUtil.Log"),
             code == 0 ? QByteArray("kept\r\na longer line\r\n") : QByteArray("kept\r\n"));
    QCOMPARE(g_fsyncCalls, failWrite ? 0 : 1);
  }

  // A new log file's name lives in its folder: the folder is synced once, when the append
  // creates the file; appends to an existing log sync the file only.
  void appendSyncsTheFolderOfANewFile_data() {
    QTest::addColumn<bool>("existing");
    QTest::addColumn<int>("folderErrno");
    QTest::addColumn<int>("code");
    QTest::newRow("new log") << false << 0 << 0;
    QTest::newRow("existing log") << true << 0 << 0;
    QTest::newRow("new log, folder cannot sync") << false << EINVAL << 0;
    QTest::newRow("new log, folder sync fails") << false << EIO << 1117;
  }
  void appendSyncsTheFolderOfANewFile() {
    QFETCH(bool, existing);
    QFETCH(int, folderErrno);
    QFETCH(int, code);
    if (existing) write("ZelPos/ZelUtil.Log", "kept\r\n");
    g_synced.clear();
    g_folderFsyncErrno = folderErrno;
    zel::platform::HostFileSyscalls().fsync = RecordingFsync;
    QCOMPARE(HostFiles().AppendToFile("C:\\ZelPos\\ZelUtil.Log", "line\r\n"), code);
    const Synced file = Identity(driveC_ + "/ZelPos/ZelUtil.Log");
    const Synced folder = Identity(driveC_ + "/ZelPos");
    QVERIFY(folder.folder);
    if (existing)
      QCOMPARE(g_synced, std::vector<Synced>{file});
    else
      QCOMPARE(g_synced, (std::vector<Synced>{file, folder}));  // the data before the name
    QCOMPARE(read("ZelPos/ZelUtil.Log"), existing    ? QByteArray("kept\r\nline\r\n")
                                         : code == 0 ? QByteArray("line\r\n")
                                                     : QByteArray());

    // The next line goes to the file that is there now: no folder sync again.
    g_synced.clear();
    g_folderFsyncErrno = 0;
    QCOMPARE(HostFiles().AppendToFile("C:\\ZelPos\\ZelUtil.Log", "next\r\n"), 0);
    QCOMPARE(g_synced, std::vector<Synced>{file});
  }

  void errnoMapping_data() {
    QTest::addColumn<int>("err");
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<int>("code");
    QTest::newRow("ENOENT file") << ENOENT << true << 2;
    QTest::newRow("ENOENT folder") << ENOENT << false << 3;
    QTest::newRow("ENOTDIR") << ENOTDIR << false << 3;
    QTest::newRow("EMFILE") << EMFILE << true << 4;
    QTest::newRow("ENFILE") << ENFILE << true << 4;
    QTest::newRow("EACCES") << EACCES << true << 5;
    QTest::newRow("EPERM") << EPERM << true << 5;
    QTest::newRow("EROFS") << EROFS << true << 5;
    QTest::newRow("EISDIR") << EISDIR << true << 5;
    QTest::newRow("EBADF") << EBADF << true << 6;
    QTest::newRow("EBUSY") << EBUSY << true << 32;
    QTest::newRow("ETXTBSY") << ETXTBSY << true << 32;
    QTest::newRow("EINVAL") << EINVAL << true << 87;
    QTest::newRow("ENOSPC") << ENOSPC << true << 101;
    QTest::newRow("EDQUOT") << EDQUOT << true << 101;
    QTest::newRow("ENAMETOOLONG") << ENAMETOOLONG << true << 206;
    QTest::newRow("EFBIG") << EFBIG << true << 223;
    QTest::newRow("ELOOP") << ELOOP << true << 1921;
    QTest::newRow("EIO") << EIO << true << 1117;
    QTest::newRow("other") << EXDEV << true << 1117;
  }
  void errnoMapping() {
    QFETCH(int, err);
    QFETCH(bool, folderExists);
    QFETCH(int, code);
    QCOMPARE(zel::platform::WindowsErrorFromErrno(err, folderExists), code);
  }

  void createDirectories() {
    QVERIFY(
        HostFiles().CreateDirectories("C:\\ZelPos\\ZelUtil.Damaged\\20090525-140700\\TEMPDATA"));
    QVERIFY(QDir(driveC_ + "/ZelPos/ZelUtil.Damaged/20090525-140700/TEMPDATA").exists());
    QVERIFY(HostFiles().CreateDirectories("c:\\zelpos\\tempdata"));  // exists already
    write("ZelPos/AFILE", "x");
    QVERIFY(!HostFiles().CreateDirectories("C:\\ZelPos\\AFILE\\SUB"));
  }
};

QTEST_GUILESS_MAIN(HostFilesTest)
#include "HostFilesTest.moc"
