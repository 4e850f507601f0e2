#include "platform/posix/FileLockProbe.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/posix/PrivilegeBroker.h"

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

namespace zel::platform {
namespace {

std::atomic<std::size_t> g_openFilesScans{0};
std::atomic<long> g_excludedFromScans{0};

bool IsProcessId(const char* name) {
  if (*name == '\0') return false;
  for (; *name; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

}  // namespace

void ForEachOpenFile(
    const std::function<void(long pid, unsigned long long dev, unsigned long long ino)>& seen) {
  // A run that left root for the till user's rights asks the root process that started it,
  // which sees every process's descriptors.
  if (HasPrivilegeBroker() && BrokerForEachOpenFile(seen)) return;
  DIR* proc = ::opendir("/proc");
  if (!proc) return;
  const std::string self = std::to_string(::getpid());
  const std::string excluded = std::to_string(g_excludedFromScans.load());
  while (const dirent* process = ::readdir(proc)) {
    if (!IsProcessId(process->d_name) || self == process->d_name || excluded == process->d_name)
      continue;
    const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd";
    DIR* fds = ::opendir(fdFolder.c_str());
    if (!fds) continue;  // another user's process, or one that has just ended
    const long pid = std::strtol(process->d_name, nullptr, 10);
    const int fdsFd = ::dirfd(fds);
    while (const dirent* fd = ::readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      // Only descriptors of files named in a file system (the link reads as a path); sockets,
      // pipes and anonymous inodes are no one's files, and skipping them saves a stat each.
      char target[8];
      if (::readlinkat(fdsFd, fd->d_name, target, sizeof target) <= 0 || target[0] != '/') continue;
      struct stat st {};
      if (::fstatat(fdsFd, fd->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
      seen(pid, static_cast<unsigned long long>(st.st_dev),
           static_cast<unsigned long long>(st.st_ino));
    }
    ::closedir(fds);
  }
  ::closedir(proc);
}

void ExcludeFromOpenFileScans(long pid) {
  g_excludedFromScans = pid;
}

OpenFilesSnapshot OpenFilesSnapshot::Take() {
  ++g_openFilesScans;
  OpenFilesSnapshot snapshot;
  ForEachOpenFile([&snapshot](long, unsigned long long dev, unsigned long long ino) {
    snapshot.open_.push_back({dev, ino});
  });
  std::sort(snapshot.open_.begin(), snapshot.open_.end());
  snapshot.open_.erase(std::unique(snapshot.open_.begin(), snapshot.open_.end()),
                       snapshot.open_.end());
  return snapshot;
}

bool OpenFilesSnapshot::IsOpen(const std::filesystem::path& file) const {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return false;
  const Id id{static_cast<unsigned long long>(st.st_dev),
              static_cast<unsigned long long>(st.st_ino)};
  return std::binary_search(open_.begin(), open_.end(), id);
}

std::size_t OpenFilesScanCount() {
  return g_openFilesScans.load();
}

}  // namespace zel::platform

namespace zel::platform {
namespace {

std::string ReadProcFile(long pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

bool IsWineserver(long pid) {
  // The name the kernel keeps (at most 15 characters): "wineserver", or "wineserver64" and
  // "wineserver32" as Debian installs it.
  return ReadProcFile(pid, "comm").rfind("wineserver", 0) == 0;
}

}  // namespace zel::platform
