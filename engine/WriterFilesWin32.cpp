// The table writer's system calls on Windows: every write and rename goes through to the disk
// before the call returns, which stands in for POSIX's fsync of the folder.
#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <system_error>

#include "engine/WriterFiles.h"
#include "engine/WriterIO.h"

namespace zel::engine::writer::os {

namespace {

HANDLE AsHandle(Handle file) {
  return reinterpret_cast<HANDLE>(file);
}

std::string LastError() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

constexpr std::size_t kMaxChunk = 1u << 30;

}  // namespace

Handle CreateUnique(const std::filesystem::path& folder, const std::string& stem,
                    std::filesystem::path& path, bool scratch, const std::string& what,
                    const std::filesystem::path& nameForErrors) {
  static std::atomic<unsigned> counter{0};
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (scratch ? FILE_FLAG_DELETE_ON_CLOSE : 0);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        folder / (stem + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(GetTickCount64()) + "-" + std::to_string(counter++));
    const HANDLE file =
        CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, flags, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      path = candidate;
      return reinterpret_cast<Handle>(file);
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  ThrowIoReason(what, nameForErrors, LastError());
}

void WriteAt(Handle file, const std::uint8_t* data, std::size_t size, std::uint64_t offset,
             const std::filesystem::path& nameForErrors) {
  while (size > 0) {
    OVERLAPPED at = At(offset);
    const DWORD chunk = static_cast<DWORD>(std::min(size, kMaxChunk));
    DWORD written = 0;
    if (!WriteFile(AsHandle(file), data, chunk, &written, &at) || written == 0)
      ThrowIoReason("Cannot write", nameForErrors, LastError());
    data += written;
    size -= written;
    offset += written;
  }
}

std::size_t ReadAt(Handle file, std::uint8_t* data, std::size_t size, std::uint64_t offset,
                   const std::filesystem::path& nameForErrors) {
  std::size_t got = 0;
  while (got < size) {
    OVERLAPPED at = At(offset + got);
    const DWORD chunk = static_cast<DWORD>(std::min(size - got, kMaxChunk));
    DWORD read = 0;
    if (!ReadFile(AsHandle(file), data + got, chunk, &read, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      ThrowIoReason("Cannot read scratch space for", nameForErrors, LastError());
    }
    if (read == 0) break;
    got += read;
  }
  return got;
}

void StartWriteback(Handle, std::uint64_t, std::size_t) noexcept {}

void SyncAndClose(Handle file, const std::filesystem::path& nameForErrors) {
  if (!FlushFileBuffers(AsHandle(file))) {
    const std::string reason = LastError();
    CloseHandle(AsHandle(file));
    ThrowIoReason("Cannot sync", nameForErrors, reason);
  }
  if (!CloseHandle(AsHandle(file))) ThrowIoReason("Cannot close", nameForErrors, LastError());
}

void Close(Handle file) noexcept {
  if (file != kNoHandle) CloseHandle(AsHandle(file));
}

bool Remove(const std::filesystem::path& file) noexcept {
  return DeleteFileW(file.c_str()) != 0;
}

bool Rename(const std::filesystem::path& from, const std::filesystem::path& to,
            std::string& reason) noexcept {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  reason = LastError();
  return false;
}

bool Link(const std::filesystem::path& from, const std::filesystem::path& to,
          std::string& reason) noexcept {
  if (CreateHardLinkW(to.c_str(), from.c_str(), nullptr)) return true;
  reason = LastError();
  return false;
}

void SyncFolder(const std::filesystem::path&) {}

}  // namespace zel::engine::writer::os

#endif  // _WIN32
