#include "platform/posix/FileLockProbe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace zel::platform {

bool IsLockedByOtherProcess(const std::filesystem::path& file) {
  // O_PATH cannot carry F_GETLK, so the file is opened read-only. Closing this descriptor would
  // drop this process's own classic locks on the file; F_GETLK never reports those, so a file
  // this process locks is only ever probed by the code that is about to delete it.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  struct flock probe;
  std::memset(&probe, 0, sizeof probe);
  probe.l_type = F_WRLCK;  // conflicts with any read or write lock held elsewhere
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;  // the whole file
  const bool locked = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

}  // namespace zel::platform
