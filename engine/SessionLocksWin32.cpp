// The session's lock files on Windows. Each file the session holds stays open for as long as it
// holds it, with a shared LockFileEx lock. A probe that cannot open a lock file without sharing
// knows a live program has it. Deletion is shared, as unlinking is on Linux: the program's own
// after-close clean-up removes the files its session still holds.
#ifdef _WIN32

#include <windows.h>

#include <optional>
#include <string>
#include <system_error>

#include "engine/EngineError.h"
#include "engine/SessionLocks.h"

namespace zel::engine {
namespace fs = std::filesystem;

namespace {

HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::string Reason(DWORD error) {
  return std::system_category().message(static_cast<int>(error));
}

struct Identity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};

std::optional<Identity> IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return Identity{info.dwVolumeSerialNumber,
                  (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

std::optional<Identity> IdentityOf(const fs::path& file) {
  const HANDLE h =
      CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  const auto identity = IdentityOf(h);
  CloseHandle(h);
  return identity;
}

bool SetLock(std::intptr_t handle) {
  OVERLAPPED whole{};
  return LockFileEx(AsHandle(handle), LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole);
}

constexpr DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

const SessionLocks::Held* SessionLocks::Find(const fs::path& file) const {
  const auto identity = IdentityOf(file);
  if (!identity) return nullptr;
  for (const Held& h : held_) {
    if (h.dev == identity->volume && h.ino == identity->index) return &h;
  }
  return nullptr;
}

void SessionLocks::Prune() {
  // Lock files deleted behind the session's back are forgotten, so the next open makes new ones.
  for (auto it = held_.begin(); it != held_.end();) {
    const auto identity = IdentityOf(it->path);
    if (identity && identity->volume == it->dev && identity->index == it->ino) {
      ++it;
      continue;
    }
    CloseHandle(AsHandle(it->fd));
    it = held_.erase(it);
  }
}

void SessionLocks::Hold(const fs::path& file, bool isNetFile) {
  if (Find(file)) return;  // still ours and still open: its lock holds
  Held h;
  h.path = file;
  std::error_code ec;
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (isNetFile && fs::exists(file, ec)) {
    // Someone else's network control file: share it, never remove it.
    handle = CreateFileW(file.c_str(), GENERIC_READ, kHeldSharing, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      throw EngineError(ErrorCode::CannotLockNetFile,
                        "Cannot lock network file (" + Reason(GetLastError()) + ")", file.string());
    }
    h.fd = reinterpret_cast<std::intptr_t>(handle);
    SetLock(h.fd);
  } else {
    handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kHeldSharing, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      CannotCreate(file, isNetFile, (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS),
                   Reason(error));
    }
    h.fd = reinterpret_cast<std::intptr_t>(handle);
    h.made = true;
    if (!SetLock(h.fd)) {
      const DWORD error = GetLastError();
      FILE_DISPOSITION_INFO gone{TRUE};
      SetFileInformationByHandle(handle, FileDispositionInfo, &gone, sizeof gone);
      CloseHandle(handle);
      throw EngineError(ErrorCode::CannotLockNetFile,
                        "Cannot lock network file (" + Reason(error) + ")", file.string());
    }
  }
  if (const auto identity = IdentityOf(handle)) {
    h.dev = identity->volume;
    h.ino = identity->index;
  }
  held_.push_back(std::move(h));
}

void SessionLocks::ReleaseAll() {
  for (Held& h : held_) {
    if (h.made) {
      // Removed through the handle the session holds: only the file it made goes.
      FILE_DISPOSITION_INFO gone{TRUE};
      SetFileInformationByHandle(AsHandle(h.fd), FileDispositionInfo, &gone, sizeof gone);
    }
    CloseHandle(AsHandle(h.fd));
  }
  held_.clear();
}

}  // namespace zel::engine

#endif  // _WIN32
