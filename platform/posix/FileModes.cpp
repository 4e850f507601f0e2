#include "platform/posix/FileModes.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace zel::platform {
namespace {

constexpr mode_t kPermissionBits = 0777;

// Linux tells the umask without changing it; elsewhere it is read by setting it back at once,
// under a lock so that two readers in this process cannot leave it at the wrong value.
mode_t CurrentUmask() {
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status))
      found = std::sscanf(line, "Umask: %o", &value) == 1;
    std::fclose(status);
    if (found) return static_cast<mode_t>(value) & kPermissionBits;
  }
  static std::mutex lock;
  const std::lock_guard<std::mutex> hold(lock);
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask & kPermissionBits;
}

}  // namespace

mode_t NewFileMode() {
  return 0666 & ~CurrentUmask();
}

mode_t NewFolderMode() {
  return 0777 & ~CurrentUmask();
}

mode_t ModeReplacing(const std::filesystem::path& replaced) {
  struct stat st {};
  if (::lstat(replaced.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    return st.st_mode & kPermissionBits;
  return NewFileMode();
}

}  // namespace zel::platform
