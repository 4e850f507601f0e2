#include "platform/posix/FileLockProbe.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

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

bool IsProcessId(const char* name) {
  if (*name == '\0') return false;
  for (; *name; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

}  // namespace

OpenFilesSnapshot OpenFilesSnapshot::Take() {
  ++g_openFilesScans;
  OpenFilesSnapshot snapshot;
  DIR* proc = ::opendir("/proc");
  if (!proc) return snapshot;
  const std::string self = std::to_string(::getpid());
  while (const dirent* process = ::readdir(proc)) {
    if (!IsProcessId(process->d_name) || self == process->d_name) continue;
    const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd";
    DIR* fds = ::opendir(fdFolder.c_str());
    if (!fds) continue;  // another user's process, or one that has just ended
    const int fdsFd = ::dirfd(fds);
    while (const dirent* fd = ::readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      // Only descriptors of files named in a file system (the link reads as a path); sockets,
      // pipes and anonymous inodes are no one's files, and skipping them saves a stat each.
      char target[8];
      if (::readlinkat(fdsFd, fd->d_name, target, sizeof target) <= 0 || target[0] != '/') continue;
      struct stat st {};
      if (::fstatat(fdsFd, fd->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
      snapshot.open_.push_back(
          {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)});
    }
    ::closedir(fds);
  }
  ::closedir(proc);
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

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void AddOnce(std::vector<int>& pids, int pid) {
  if (pid > 0 && pid != ::getpid() && std::find(pids.begin(), pids.end(), pid) == pids.end())
    pids.push_back(pid);
}

std::string ReadProcFile(int pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The owner of the classic fcntl lock that conflicts with a write lock on the whole file.
int ClassicLockOwner(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct flock probe;
  std::memset(&probe, 0, sizeof probe);
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  const bool found = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return found ? probe.l_pid : -1;  // -1 as well for an open-file-description lock
}

}  // namespace

std::vector<int> LockHolders(const std::filesystem::path& file) {
  std::vector<int> pids;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return pids;
  AddOnce(pids, ClassicLockOwner(file));
  // Lines like "3: FLOCK  ADVISORY  WRITE 1234 08:02:131090 0 EOF"; the device is the file
  // system's, in hexadecimal. Waiters ("3: -> POSIX ...") hold nothing yet.
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, type, mode, access, device;
    long pid = 0;
    if (!(fields >> number >> type) || type == "->") continue;
    if (!(fields >> mode >> access >> pid >> device)) continue;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(device.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
    if (major == ::major(st.st_dev) && minor == ::minor(st.st_dev) && inode == st.st_ino)
      AddOnce(pids, static_cast<int>(pid));
  }
  return pids;
}

std::vector<int> ProcessesWithFileOpen(const std::filesystem::path& file) {
  std::vector<int> pids;
  struct stat target {};
  if (::stat(file.c_str(), &target) != 0) return pids;
  DIR* proc = ::opendir("/proc");
  if (!proc) return pids;
  while (const dirent* process = ::readdir(proc)) {
    if (!IsProcessId(process->d_name)) continue;
    const int pid = std::atoi(process->d_name);
    if (pid == ::getpid()) continue;
    const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd";
    DIR* fds = ::opendir(fdFolder.c_str());
    if (!fds) continue;
    const int fdsFd = ::dirfd(fds);
    while (const dirent* fd = ::readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      struct stat st {};
      if (::fstatat(fdsFd, fd->d_name, &st, 0) == 0 && SameFile(st, target)) {
        AddOnce(pids, pid);
        break;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  std::sort(pids.begin(), pids.end());
  return pids;
}

std::string ProcessCommandLine(int pid) {
  std::string command = ReadProcFile(pid, "cmdline");
  while (!command.empty() && command.back() == '\0') command.pop_back();
  std::replace(command.begin(), command.end(), '\0', ' ');
  if (!command.empty()) return command;
  std::string name = ReadProcFile(pid, "comm");
  while (!name.empty() && name.back() == '\n') name.pop_back();
  return name.empty() ? name : "[" + name + "]";
}

bool IsWineserver(int pid) {
  // The name the kernel keeps (at most 15 characters): "wineserver", or "wineserver64" and
  // "wineserver32" as Debian installs it.
  return ReadProcFile(pid, "comm").rfind("wineserver", 0) == 0;
}

}  // namespace zel::platform
