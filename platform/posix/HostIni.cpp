// GetPrivateProfileStringA on the host: the INI file is read afresh on every call (the POS
// program may rewrite it at any time) through the drive mapping.
//
// How a file is read, as Windows does it:
//  - lines end in CR LF or LF; blanks (space, tab) around section names, keys and values are
//    dropped;
//  - a line whose first non-blank character is ';' is a comment; a ';' later on a line belongs
//    to the value;
//  - "[name]" opens a section; lines before the first section belong to none and are never found;
//  - "key=value": the key is everything before the first '=', the value everything after it;
//    a line without '=' is no key;
//  - one pair of matching quotes (" or ') around the whole value is removed, inner quotes stay;
//  - section and key names are compared without regard to ASCII case; only the first section
//    of a name is read (a later section of the same name is never looked at), and in it the
//    first occurrence of a key wins;
//  - the default is returned when the file, the section or the key is missing (a key present
//    with an empty value gives the empty string), and when the path names no regular file: a
//    FIFO, a device or a folder in its place is never read, so it can neither hang the run nor
//    feed it endless bytes; only the first 1 MiB of a larger file is read (said on standard
//    error).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>

#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "platform/IniReader.h"

namespace zel::platform {
namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

constexpr size_t kMaxIniBytes = 1 << 20;

class PosixIni final : public IniReader {
 public:
  std::string ReadString(const std::string& iniWindowsPath, const std::string& section,
                         const std::string& key, const std::string& defaultValue) override {
    const std::optional<std::string> content = ReadRegularFile(MapWindowsPath(iniWindowsPath));
    if (!content) return defaultValue;
    return Lookup(*content, section, key).value_or(defaultValue);
  }

  // The whole file (at most its first kMaxIniBytes), or nothing when it cannot be read or is not a
  // regular file. O_NONBLOCK: opening a FIFO that has no writer must not wait for one.
  static std::optional<std::string> ReadRegularFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return std::nullopt;
    }
    std::string content;
    char buffer[16384];
    // A settings file is a few lines: the rest of a huge one is not read.
    if (static_cast<unsigned long long>(st.st_size) > kMaxIniBytes)
      std::fprintf(stderr, "zelutil: %s is larger than %zu bytes; only its first %zu are read\n",
                   EscapeControls(path.string()).c_str(), kMaxIniBytes, kMaxIniBytes);
    while (content.size() < kMaxIniBytes) {
      const size_t want = std::min(sizeof buffer, kMaxIniBytes - content.size());
      const ssize_t n = ::read(fd, buffer, want);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ::close(fd);
        return std::nullopt;
      }
      if (n == 0) break;
      content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return content;
  }

  static std::optional<std::string> Lookup(const std::string& content, std::string_view section,
                                           std::string_view key) {
    const std::string_view wantedSection = Trim(section);
    const std::string_view wantedKey = Trim(key);
    bool inSection = false;
    std::string_view rest = content;
    while (!rest.empty()) {
      const size_t end = rest.find('\n');
      std::string_view line = Trim(rest.substr(0, end));
      rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        // The first section of the name has ended: Windows looks no further.
        if (inSection) return std::nullopt;
        const size_t close = line.find(']');
        const std::string_view name =
            Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
        inSection = SameNameIgnoringCase(name, wantedSection);
        continue;
      }
      if (!inSection) continue;
      const size_t eq = line.find('=');
      if (eq == std::string_view::npos) continue;
      if (SameNameIgnoringCase(Trim(line.substr(0, eq)), wantedKey))
        return std::string(Unquote(Trim(line.substr(eq + 1))));
    }
    return std::nullopt;
  }
};

}  // namespace

IniReader& HostIni() {
  static PosixIni ini;
  return ini;
}

}  // namespace zel::platform
