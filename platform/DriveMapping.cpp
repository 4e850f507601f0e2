#include "platform/DriveMapping.h"

#include <cctype>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace zel::platform {
namespace fs = std::filesystem;

#ifdef _WIN32

// On Windows the paths are the system's own: drive C: is C:, names are matched without regard
// to case by the file system itself.
fs::path WinePrefix() {
  return {};
}

fs::path DriveCRoot() {
  return fs::path("C:\\");
}

#else

fs::path WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return fs::path(prefix);
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/root") / ".wine";
}

fs::path DriveCRoot() {
  return WinePrefix() / "drive_c";
}

#endif

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

#ifndef _WIN32
namespace {

std::vector<std::string_view> SplitComponents(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\' || path[i] == '/') {
      if (i > start) parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// The existing entry of `dir` named `name`, exactly or else without regard to case.
fs::path ResolveComponent(const fs::path& dir, std::string_view name) {
  std::error_code ec;
  fs::path exact = dir / fs::path(std::string(name));
  if (name == "." || name == ".." ||
      fs::symlink_status(exact, ec).type() != fs::file_type::not_found)
    return exact;
  // Names on a station are mostly all upper or all lower case: two quick looks before a scan.
  for (auto caseOf : {::toupper, ::tolower}) {
    std::string variant(name);
    for (char& c : variant) c = static_cast<char>(caseOf(static_cast<unsigned char>(c)));
    if (variant == name) continue;
    fs::path candidate = dir / variant;
    if (fs::symlink_status(candidate, ec).type() != fs::file_type::not_found) return candidate;
  }
  fs::directory_iterator it(dir, ec);
  if (ec) return exact;
  for (const fs::directory_entry& entry : it) {
    if (SameNameIgnoringCase(entry.path().filename().native(), name)) return entry.path();
  }
  return exact;
}

}  // namespace
#endif

#ifdef _WIN32

fs::path MapWindowsPath(std::string_view windowsPath) {
  return fs::path(std::string(windowsPath));
}

#else

fs::path MapWindowsPath(std::string_view windowsPath) {
  if (!windowsPath.empty() && windowsPath.front() == '/') return fs::path(std::string(windowsPath));

  fs::path root = DriveCRoot();
  std::string_view rest = windowsPath;
  if (rest.size() >= 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
    if (drive != 'c') root = WinePrefix() / "dosdevices" / (std::string(1, drive) + ":");
    rest.remove_prefix(2);
  }
  fs::path mapped = root;
  for (std::string_view component : SplitComponents(rest))
    mapped = ResolveComponent(mapped, component);
  return mapped;
}

#endif

}  // namespace zel::platform
