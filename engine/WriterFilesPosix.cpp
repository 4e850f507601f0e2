// The table writer's system calls on POSIX.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/WriterFiles.h"
#include "engine/WriterIO.h"
#include "platform/posix/FileModes.h"

namespace zel::engine::writer::os {

Handle CreateUnique(const std::filesystem::path& folder, const std::string& stem,
                    std::filesystem::path& path, bool scratch, const std::string& what,
                    const std::filesystem::path& nameForErrors) {
  std::string pattern = (folder / (stem + "-XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) ThrowIo(what, nameForErrors, errno);
  path = pattern;
  if (scratch) {
    ::unlink(pattern.c_str());
  } else if (::fchmod(fd, platform::ModeReplacing(nameForErrors)) != 0) {
    // A new file gets the bits any new file would; one that replaces a file keeps that file's.
    const int err = errno;
    ::close(fd);
    ::unlink(pattern.c_str());
    ThrowIo(what, nameForErrors, err);
  }
  return fd;
}

void WriteAt(Handle file, const std::uint8_t* data, std::size_t size, std::uint64_t offset,
             const std::filesystem::path& nameForErrors) {
  while (size > 0) {
    const ssize_t n = ::pwrite(static_cast<int>(file), data, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowIo("Cannot write", nameForErrors, errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
}

std::size_t ReadAt(Handle file, std::uint8_t* data, std::size_t size, std::uint64_t offset,
                   const std::filesystem::path& nameForErrors) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n =
        ::pread(static_cast<int>(file), data + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowIo("Cannot read scratch space for", nameForErrors, errno);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

void StartWriteback(Handle file, std::uint64_t offset, std::size_t size) noexcept {
#ifdef __linux__
  (void)::sync_file_range(static_cast<int>(file), static_cast<off_t>(offset),
                          static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
#else
  (void)file, (void)offset, (void)size;
#endif
}

void SyncAndClose(Handle file, const std::filesystem::path& nameForErrors) {
  if (::fsync(static_cast<int>(file)) != 0) {
    const int err = errno;
    ::close(static_cast<int>(file));
    ThrowIo("Cannot sync", nameForErrors, err);
  }
  if (::close(static_cast<int>(file)) != 0) ThrowIo("Cannot close", nameForErrors, errno);
}

void Close(Handle file) noexcept {
  if (file >= 0) ::close(static_cast<int>(file));
}

bool Remove(const std::filesystem::path& file) noexcept {
  return ::unlink(file.c_str()) == 0;
}

bool Rename(const std::filesystem::path& from, const std::filesystem::path& to,
            std::string& reason) noexcept {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  reason = std::strerror(errno);
  return false;
}

bool Link(const std::filesystem::path& from, const std::filesystem::path& to,
          std::string& reason) noexcept {
  if (::link(from.c_str(), to.c_str()) == 0) return true;
  reason = std::strerror(errno);
  return false;
}

void SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) ThrowIo("Cannot open the folder to sync it", folder, errno);
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  // Some file systems cannot sync a directory; the renames are still in place.
  if (rc != 0 && err != EINVAL && err != EROFS) ThrowIo("Cannot sync the folder", folder, err);
}

}  // namespace zel::engine::writer::os

#endif  // !_WIN32
