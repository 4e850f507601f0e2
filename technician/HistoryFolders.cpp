#include "technician/HistoryFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "report/ReportFolder.h"

namespace zel::technician {
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool Wanted(const std::string& name, ReportNames names) {
  if (names == ReportNames::RunReports) return report::IsReportName(name);
  return !name.empty() && name[0] != '.' && EndsWith(name, ".json");
}

// The file's bytes, or the reason in `source.reason`.
void ReadReport(int folder, const std::string& name, ReportSource& source) {
  const int fd =
      ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    source.reason = errno == ELOOP ? "a link, not followed"
                                   : std::string("cannot open: ") + std::strerror(errno);
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    source.reason = std::string("cannot read: ") + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    source.reason = "not a regular file";
  } else if (static_cast<std::size_t>(st.st_size) > kReportSizeCap) {
    source.reason =
        "larger than " + std::to_string(kReportSizeCap >> 20) + " MiB, not a run report";
  } else {
    source.bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t at = 0;
    while (at < source.bytes.size()) {
      const ssize_t got = ::read(fd, source.bytes.data() + at, source.bytes.size() - at);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        source.reason = std::string("cannot read: ") + std::strerror(errno);
        source.bytes.clear();
        break;
      }
      if (got == 0) break;  // shrunk meanwhile: what is there is judged as it is
      at += static_cast<std::size_t>(got);
    }
    if (source.reason.empty()) source.bytes.resize(at);
  }
  ::close(fd);
}

}  // namespace

FolderReports ReadReportFolder(const std::filesystem::path& folder, const std::string& shownAs,
                               char separator, ReportNames names) {
  FolderReports result;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT)
      result.exists = false;
    else
      result.problem = errno == ELOOP || errno == ENOTDIR
                           ? "not a folder (a link or a file), not followed"
                           : std::string("cannot open the folder: ") + std::strerror(errno);
    return result;
  }
  const int listFd = ::dup(fd);
  DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (!dir) {
    result.problem = std::string("cannot list the folder: ") + std::strerror(errno);
    if (listFd >= 0) ::close(listFd);
    ::close(fd);
    return result;
  }
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (Wanted(name, names)) found.push_back(name);
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end());
  for (const std::string& name : found) {
    ReportSource source;
    source.path = shownAs + separator + name;
    ReadReport(fd, name, source);
    result.sources.push_back(std::move(source));
  }
  ::close(fd);
  return result;
}

}  // namespace zel::technician
