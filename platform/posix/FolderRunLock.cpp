#include "platform/posix/FolderRunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "platform/DriveMapping.h"

namespace zel::platform {

namespace {

bool SameFile(int a, int b) {
  struct stat sa {
  }, sb{};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

FolderRunLock::~FolderRunLock() {
  if (fd_ >= 0) ::close(fd_);
}

RunLock::Outcome FolderRunLock::Take() {
  const std::string host = MapWindowsPath(folder_).string();
  // flock needs a real descriptor (not O_PATH); read-only is enough and writes nothing.
  const int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) return Outcome::NoFolder;
    throw std::runtime_error("Cannot lock " + folder_ + " against a second run (" +
                             std::generic_category().message(err) + "): " + host);
  }
  if (fd_ >= 0 && SameFile(fd, fd_)) {
    ::close(fd);
    return Outcome::Taken;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return Outcome::HeldByOtherRun;
    throw std::runtime_error("Cannot lock " + folder_ + " against a second run (" +
                             std::generic_category().message(err) + "): " + host);
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return Outcome::Taken;
}

RunLock& HostRunLock() {
  static FolderRunLock lock("C:\\ZelPos");
  return lock;
}

}  // namespace zel::platform
