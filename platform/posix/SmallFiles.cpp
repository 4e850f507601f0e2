#include "platform/posix/SmallFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace zel::platform {

std::string ReadSmallRegularFile(const std::filesystem::path& file, std::size_t limit) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {};
  std::string bytes;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::size_t>(st.st_size) <= limit) {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t at = 0;
    while (at < bytes.size()) {
      const ssize_t got = ::read(fd, bytes.data() + at, bytes.size() - at);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      at += static_cast<std::size_t>(got);
    }
    bytes.resize(at);
  }
  ::close(fd);
  return bytes;
}

bool WriteFileAtomically(const std::filesystem::path& file, const std::string& bytes,
                         std::string& error) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    error = "cannot open the folder " + folder.string() + ": " + std::strerror(errno);
    return false;
  }
  static std::atomic<unsigned> serial{0};
  const std::string name = file.filename().string();
  const std::string temporary =
      ".zeltmp-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + "-" + name;
  const int fd =
      ::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  if (!ok) error = "cannot create " + (folder / temporary).string() + ": " + std::strerror(errno);
  for (std::size_t at = 0; ok && at < bytes.size();) {
    const ssize_t wrote = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (wrote < 0 && errno == EINTR) continue;
    ok = wrote > 0;
    if (!ok) error = "cannot write " + file.string() + ": " + std::strerror(errno);
    if (ok) at += static_cast<std::size_t>(wrote);
  }
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    error = "cannot sync " + file.string() + ": " + std::strerror(errno);
  }
  if (fd >= 0) ::close(fd);
  // rename() replaces a link at `file` by the new file: nothing is written through it.
  if (ok && ::renameat(dir, temporary.c_str(), dir, name.c_str()) != 0) {
    ok = false;
    error = "cannot rename into " + file.string() + ": " + std::strerror(errno);
  }
  if (!ok && fd >= 0) ::unlinkat(dir, temporary.c_str(), 0);
  if (ok) ::fsync(dir);
  ::close(dir);
  return ok;
}

}  // namespace zel::platform
