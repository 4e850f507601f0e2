// Windows-like file operations on the host file system, on paths mapped through drive C:.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "platform/WindowsFiles.h"
#include "platform/posix/FileLockProbe.h"
#include "platform/posix/FileModes.h"
#include "platform/posix/FileSyscalls.h"
#include "platform/posix/WindowsErrors.h"

namespace zel::platform {
namespace fs = std::filesystem;

FileSyscalls& HostFileSyscalls() {
  static FileSyscalls calls;
  return calls;
}

int WindowsErrorFromErrno(int err, bool folderExists) {
  switch (err) {
    case ENOENT:
      return folderExists ? WinError::FileNotFound : WinError::PathNotFound;
    case ENOTDIR:
      return WinError::PathNotFound;
    case EMFILE:
    case ENFILE:
      return WinError::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return WinError::AccessDenied;
    case EBADF:
      return WinError::InvalidHandle;
    case EBUSY:
    case ETXTBSY:
      return WinError::SharingViolation;
    case EINVAL:
      return WinError::InvalidParameter;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return WinError::DiskFull;
    case ENAMETOOLONG:
      return WinError::FilenameTooLong;
    case EFBIG:
      return WinError::FileTooLarge;
    case ELOOP:
      return WinError::CantResolveName;
    default:
      return WinError::IoDevice;
  }
}

namespace {

bool IsDirectory(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

fs::path FolderOf(const fs::path& file) {
  fs::path parent = file.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

// Writes all of `size` bytes, riding out interrupted and short writes; false with errno set.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = HostFileSyscalls().write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Makes the renames, links and new names in `folder` durable. 0, or the errno of the step that
// failed; file systems that cannot sync a folder at all answer EINVAL and count as synced.
int SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = HostFileSyscalls().fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return err == EINVAL ? 0 : err;
}

// Room a copy leaves on its disk beyond the source's own blocks, for the run's other files.
constexpr unsigned long long kCopyMarginBytes = 16ull << 20;

// Whether the disk of `folder` holds the source's allocated blocks (a sparse file needs only
// those) plus the margin; says on standard error why not.
bool RoomForCopy(const struct stat& sourceStat, const fs::path& source, const fs::path& folder) {
  struct statvfs disk {};
  if (HostFileSyscalls().statvfs(folder.c_str(), &disk) != 0) return true;  // cannot tell: try
  const unsigned long long free = static_cast<unsigned long long>(disk.f_bavail) *
                                  static_cast<unsigned long long>(disk.f_frsize);
  const unsigned long long allocated = static_cast<unsigned long long>(sourceStat.st_blocks) * 512;
  const unsigned long long need = allocated + kCopyMarginBytes;
  if (free >= need) return true;
  std::fprintf(stderr,
               "zelutil: cannot copy %s into %s: the disk has %llu bytes free, the copy needs "
               "%llu (%llu bytes of the file and %llu to spare)\n",
               EscapeControls(source.string()).c_str(), EscapeControls(folder.string()).c_str(),
               free, need, allocated, kCopyMarginBytes);
  return false;
}

// Copies `size` bytes of `in` to `out`, the source's holes left as holes: only the data
// regions are read and written, and the file is given its length at the end.
bool CopyData(int in, int out, off_t size) {
  std::vector<char> buffer(1 << 16);
  off_t at = 0;
  while (at < size) {
    off_t data = ::lseek(in, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    if (data < 0) data = at;                // a file system that cannot tell: all data
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0) hole = size;
    if (hole > size) hole = size;
    if (::lseek(out, data, SEEK_SET) < 0) return false;
    for (off_t pos = data; pos < hole;) {
      const size_t want =
          static_cast<size_t>(std::min<off_t>(hole - pos, static_cast<off_t>(buffer.size())));
      const ssize_t n = ::pread(in, buffer.data(), want, pos);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) {  // the file shrank meanwhile
        hole = pos;
        size = pos;
        break;
      }
      if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) return false;
      pos += n;
    }
    at = hole;
  }
  return ::ftruncate(out, size) == 0;
}

bool EndsWithCrLf(const std::string& bytes) {
  return bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0;
}

// Whether the file of `size` bytes is empty or ends in a line end.
bool EndsWithLineEnd(int fd, off_t size) {
  if (size == 0) return true;
  char last = 0;
  return ::pread(fd, &last, 1, size - 1) == 1 && last == '\n';
}

class PosixFiles final : public WindowsFiles {
 public:
  bool FileExists(const std::string& windowsPath) override {
    return IsRegularFile(MapWindowsPath(windowsPath));
  }

  bool DeleteFile(const std::string& windowsPath) override {
    return Delete(MapWindowsPath(windowsPath), true);
  }

  bool DeleteSessionLockFile(const std::string& windowsPath) override {
    return Delete(MapWindowsPath(windowsPath), false);
  }

  void BeginDeletionBatch() override { ++batchDepth_; }
  void EndDeletionBatch() override {
    if (batchDepth_ > 0 && --batchDepth_ == 0) batchOpenFiles_.reset();
  }

  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override {
    const fs::path source = MapWindowsPath(from);
    const fs::path target = MapWindowsPath(to);
    struct stat targetStat {};
    const bool targetExists = ::lstat(target.c_str(), &targetStat) == 0;
    if (targetExists && (failIfExists || S_ISDIR(targetStat.st_mode))) return false;
    if (targetExists && S_ISREG(targetStat.st_mode) && IsLockedByOtherProcess(target)) return false;

    // O_NONBLOCK: a FIFO in the source's place is refused below instead of hanging the run.
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in < 0) return false;
    struct stat sourceStat {};
    if (::fstat(in, &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode)) {
      ::close(in);
      return false;
    }
    const fs::path folder = FolderOf(target);
    if (!RoomForCopy(sourceStat, source, folder)) {
      ::close(in);
      return false;
    }

    // The copy is written beside the target and only then moved over it, so a copy that fails
    // halfway never leaves a half file where the target was.
    std::string tempName = (folder / ".zelcopy-XXXXXX").native();
    const int out = ::mkstemp(tempName.data());
    if (out < 0) {
      ::close(in);
      return false;
    }
    bool ok = CopyData(in, out, sourceStat.st_size);
    ::close(in);
    if (ok) {
      // Only permission bits: a set-user-ID source never gives a set-user-ID copy. A replaced
      // file's bits stay, so the program that wrote it can still write it.
      const mode_t mode =
          targetExists && S_ISREG(targetStat.st_mode) ? targetStat.st_mode & 0777 : NewFileMode();
      ok = ::fchmod(out, mode) == 0;
      const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
      ::futimens(out, times);  // CopyFileA keeps the last-write time
      ok = ok && HostFileSyscalls().fsync(out) == 0;
    }
    ok = ::close(out) == 0 && ok;
    if (ok) {
      if (failIfExists) {
        // link() refuses an existing name, so a file that appeared meanwhile is not replaced.
        ok = ::link(tempName.c_str(), target.c_str()) == 0;
      } else {
        ok = ::rename(tempName.c_str(), target.c_str()) == 0;
      }
    }
    ::unlink(tempName.c_str());  // after rename the name is gone; after link it is a second name
    if (ok) SyncFolder(folder);  // the copy is in place; a folder that cannot sync is no error
    return ok;
  }

  int AppendToFile(const std::string& windowsPath, const std::string& bytes) override {
    const fs::path path = MapWindowsPath(windowsPath);
    const auto fail = [&path](int err) {
      return WindowsErrorFromErrno(err, IsDirectory(FolderOf(path)));
    };

    // O_NONBLOCK: a FIFO in the file's place must give an error, not hang the run. O_NOFOLLOW:
    // a link in the file's place is refused, never written through.
    constexpr int kAppend = O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
    // Opened first without O_CREAT, to know whether this call makes the file: a new file's name
    // is durable only once its folder is synced too.
    bool created = false;
    int fd = ::open(path.c_str(), kAppend);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), kAppend | O_CREAT | O_EXCL, 0666);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kAppend);  // made meanwhile
    }
    // A link in the file's place is refused as access denied (ELOOP would read "cannot
    // resolve the name").
    if (fd < 0) return fail(errno == ELOOP ? EACCES : errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      // Only a regular file is appended to: a FIFO or device that opened is refused.
      const int err = S_ISREG(st.st_mode) || st.st_mode == 0 ? errno : EACCES;
      ::close(fd);
      return fail(err);
    }
    // The call adds its whole line or nothing: a failed write or sync takes back what it added.
    const auto undo = [&](int err) {
      (void)::ftruncate(fd, st.st_size);
      ::close(fd);
      return fail(err);
    };
    // A last line that a power cut tore in half is ended first, so the new line starts a line
    // of its own instead of being glued to the torn one.
    const std::string lineEnd =
        EndsWithCrLf(bytes) && !EndsWithLineEnd(fd, st.st_size) ? "\r\n" : "";
    if (!WriteAll(fd, (lineEnd + bytes).data(), lineEnd.size() + bytes.size())) return undo(errno);
    // The caller may power the PC off right after: the bytes must be on disk when this returns.
    if (HostFileSyscalls().fsync(fd) != 0 && errno != EINVAL) return undo(errno);
    if (created) {
      if (const int err = SyncFolder(FolderOf(path)); err != 0) return undo(err);
    }
    if (::close(fd) != 0 && errno != EINTR) return fail(errno);
    return 0;
  }

  bool CreateDirectories(const std::string& windowsPath) override {
    const fs::path path = MapWindowsPath(windowsPath);
    // Each missing folder from the top down, and each new one's name made durable in its
    // parent before anything is put in it or names it.
    std::vector<fs::path> missing;
    for (fs::path p = path; !p.empty() && !IsDirectory(p); p = p.parent_path()) {
      missing.push_back(p);
      if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (::mkdir(it->c_str(), 0777) != 0 && errno != EEXIST) return false;
      if (SyncFolder(FolderOf(*it)) != 0) return false;
    }
    return IsDirectory(path);
  }

  bool LinkFile(const std::string& from, const std::string& to) override {
    const fs::path source = MapWindowsPath(from);
    const fs::path target = MapWindowsPath(to);
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // The data behind both names must be on disk before the caller deletes the first name.
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    const bool synced = HostFileSyscalls().fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    if (!synced) return false;
    if (::link(source.c_str(), target.c_str()) != 0) return false;
    if (SyncFolder(FolderOf(target)) != 0) {
      ::unlink(target.c_str());
      return false;
    }
    return true;
  }

  bool MoveFile(const std::string& from, const std::string& to) override {
    const fs::path source = MapWindowsPath(from);
    const fs::path target = MapWindowsPath(to);
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    struct stat targetStat {};
    if (::lstat(target.c_str(), &targetStat) == 0) {
      if (S_ISDIR(targetStat.st_mode)) return false;
      // Replacing a file another program uses is refused as deleting it would be.
      if (S_ISREG(targetStat.st_mode) && InUse(target, true)) return false;
      // The file that takes the place of another keeps that one's permission bits.
      if (S_ISREG(targetStat.st_mode) && (st.st_mode & 07777) != (targetStat.st_mode & 0777))
        ::chmod(source.c_str(), targetStat.st_mode & 0777);
    }
    return ::rename(source.c_str(), target.c_str()) == 0;
  }

  bool FlushFolder(const std::string& windowsFolder) override {
    return SyncFolder(MapWindowsPath(windowsFolder)) == 0;
  }

 private:
  // Windows refuses to delete or replace a file that another program has open; here such a
  // program shows by its lock or (when `openCounts`) by a descriptor of the file.
  bool InUse(const fs::path& file, bool openCounts) {
    return IsLockedByOtherProcess(file) || (openCounts && IsOpenElsewhere(file));
  }

  bool Delete(const fs::path& path, bool openCounts) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (S_ISREG(st.st_mode) && InUse(path, openCounts)) return false;
    return ::unlink(path.c_str()) == 0;
  }

  bool IsOpenElsewhere(const fs::path& file) {
    if (batchDepth_ == 0) return OpenFilesSnapshot::Take().IsOpen(file);
    if (!batchOpenFiles_) batchOpenFiles_ = OpenFilesSnapshot::Take();
    return batchOpenFiles_->IsOpen(file);
  }

  int batchDepth_ = 0;
  std::optional<OpenFilesSnapshot> batchOpenFiles_;  // taken at a batch's first deletion
};

}  // namespace

WindowsFiles& HostFiles() {
  static PosixFiles files;
  return files;
}

}  // namespace zel::platform
