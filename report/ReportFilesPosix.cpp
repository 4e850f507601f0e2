// The run report's system calls on POSIX.
#ifndef _WIN32

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/FileModes.h"
#include "report/ReportFiles.h"
#include "report/ReportWriter.h"

namespace zel::report::files {
namespace fs = std::filesystem;

namespace {

std::string ErrorText(int error) {
  return std::strerror(error);
}

}  // namespace

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    throw ReportError("cannot sync the folder " + folder.string() + ": " + ErrorText(error));
  }
  ::close(fd);
}

// The document in a new temporary file beside `file`, on disk; its path.
fs::path WriteTemporary(const fs::path& file, const std::string& document) {
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  std::string pattern =
      (folder / ("." + file.filename().string() + kTemporaryMark + "XXXXXX")).string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0)
    throw ReportError("cannot write the run report " + file.string() + ": " + ErrorText(errno));
  const fs::path temporary = pattern;
  const char* data = document.data();
  std::size_t left = document.size();
  int error = 0;
  while (left > 0 && error == 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = written < 0 ? errno : EIO;
      break;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  // The bits of the file it replaces, else those of any new file.
  if (error == 0 && ::fchmod(fd, platform::ModeReplacing(file)) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    throw ReportError("cannot write the run report " + file.string() + ": " + ErrorText(error));
  }
  return temporary;
}

std::tm LocalTime(std::time_t seconds, long& utcOffset) {
  std::tm local{};
  ::localtime_r(&seconds, &local);
  utcOffset = local.tm_gmtoff;
  return local;
}

void Replace(const fs::path& temporary, const fs::path& file) {
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw ReportError("cannot write the run report " + file.string() + ": " + ErrorText(error));
  }
}

bool PublishNew(const fs::path& temporary, const fs::path& file) {
  // A second name never replaces an existing file, so two writers cannot take the same name.
  if (::link(temporary.c_str(), file.c_str()) == 0) {
    ::unlink(temporary.c_str());
    return true;
  }
  int error = errno;
  // A file system without links: a look, then a rename (one run at a time writes here).
  if ((error == EPERM || error == EOPNOTSUPP) && !fs::exists(fs::symlink_status(file)))
    error = ::rename(temporary.c_str(), file.c_str()) == 0 ? 0 : errno;
  if (error != 0) ::unlink(temporary.c_str());
  if (error == EEXIST || error == EPERM || error == EOPNOTSUPP) return false;
  if (error != 0)
    throw ReportError("cannot write the run report " + file.string() + ": " + ErrorText(error));
  return true;
}

void MakeFolder(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0777) == 0) {
    // The new folder must outlive a power-off that follows the run at once.
    if (folder.has_parent_path()) {
      std::error_code ec;
      const int fd = ::open(folder.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        throw ReportError("cannot sync the folder " + folder.parent_path().string() + ": " +
                          std::strerror(error));
      }
      ::close(fd);
    }
    return;
  }
  const int error = errno;
  struct stat st {};
  const bool found = error == EEXIST && ::lstat(folder.c_str(), &st) == 0;
  if (found && S_ISDIR(st.st_mode)) return;
  throw ReportError("cannot make the report folder " + folder.string() + ": " +
                    (found && S_ISLNK(st.st_mode) ? std::string("a symbolic link is in its place")
                     : error == EEXIST            ? std::string("a file of that name is in the way")
                                                  : std::string(std::strerror(error))));
}

}  // namespace zel::report::files

#endif  // !_WIN32
