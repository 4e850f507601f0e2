#include "engine/PositionalFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <system_error>

#include "engine/EngineError.h"

namespace zel::engine {

namespace {

[[noreturn]] void ReadError(const std::filesystem::path& path, const std::string& why) {
  throw EngineError(ErrorCode::ReadFailed, "Cannot read file (" + why + ")", path.string());
}

[[noreturn]] void Missing(const std::filesystem::path& path) {
  throw EngineError(ErrorCode::FileDoesNotExist, "File does not exist", path.string());
}

}  // namespace

#ifdef _WIN32

namespace {

std::string WindowsMessage(DWORD code) {
  return std::system_category().message(static_cast<int>(code));
}

HANDLE Handle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

PositionalFile::PositionalFile(std::filesystem::path path) : path_(std::move(path)) {
  // Every sharing mode: the POS program may hold the table open for writing.
  const HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) Missing(path_);
    ReadError(path_, WindowsMessage(error));
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    handle_ = -1;
    ReadError(path_, "not a regular file");
  }
  size_ = static_cast<std::uint64_t>(size.QuadPart);
}

PositionalFile::~PositionalFile() {
  if (handle_ != -1) CloseHandle(Handle(handle_));
}

std::size_t PositionalFile::ReadAt(std::uint64_t offset, std::uint8_t* dst, std::size_t len) const {
  std::size_t done = 0;
  while (done < len) {
    OVERLAPPED at{};
    const std::uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(len - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), dst + done, want, &got, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      ReadError(path_, WindowsMessage(error));
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

#else

PositionalFile::PositionalFile(std::filesystem::path path) : path_(std::move(path)) {
  // O_NONBLOCK: a FIFO in the table's place must not wait for a writer; it is refused below.
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) Missing(path_);
    ReadError(path_, std::generic_category().message(err));
  }
  handle_ = fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    handle_ = -1;
    ReadError(path_, "not a regular file");
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
}

PositionalFile::~PositionalFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::size_t PositionalFile::ReadAt(std::uint64_t offset, std::uint8_t* dst, std::size_t len) const {
  std::size_t done = 0;
  while (done < len) {
    const ssize_t n = ::pread(static_cast<int>(handle_), dst + done, len - done,
                              static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ReadError(path_, std::generic_category().message(errno));
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

#endif

}  // namespace zel::engine
