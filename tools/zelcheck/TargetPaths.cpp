#include "tools/zelcheck/TargetPaths.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/DriveMapping.h"

namespace fs = std::filesystem;

namespace zel::zelcheck {

fs::path HostPath(const std::string& arg) {
  const bool windows =
      arg.size() >= 2 && arg[1] == ':' && std::isalpha(static_cast<unsigned char>(arg[0]));
  return windows ? zel::platform::MapWindowsPath(arg) : fs::path(arg);
}

bool ReadableFile(const fs::path& path, std::string& why) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    why = "no such file";
    return false;
  }
  if (!fs::is_regular_file(path, ec)) {
    why = "not a regular file";
    return false;
  }
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    why = errno != 0 ? std::strerror(errno) : "cannot open it";
    return false;
  }
  return true;
}

}  // namespace zel::zelcheck
