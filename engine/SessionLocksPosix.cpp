// The session's lock files on POSIX: each one held with a classic fcntl lock, found again by
// device and inode.
#include "engine/SessionLocks.h"

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

#include "engine/EngineError.h"

namespace zel::engine {
namespace fs = std::filesystem;

namespace {

bool SetLock(std::intptr_t fd, short type) {
  struct flock lk;
  std::memset(&lk, 0, sizeof lk);
  lk.l_type = type;
  lk.l_whence = SEEK_SET;  // whole file
  return ::fcntl(static_cast<int>(fd), F_SETLK, &lk) == 0;
}

std::string Reason(int err) {
  return std::generic_category().message(err);
}

}  // namespace

const SessionLocks::Held* SessionLocks::Find(const fs::path& file) const {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return nullptr;
  for (const Held& h : held_) {
    if (h.dev == std::uint64_t(st.st_dev) && h.ino == std::uint64_t(st.st_ino)) return &h;
  }
  return nullptr;
}

void SessionLocks::Prune() {
  // Lock files deleted behind the session's back (the program's after-close clean-up) are
  // forgotten, so the next open makes new ones.
  for (auto it = held_.begin(); it != held_.end();) {
    struct stat st {};
    const bool present = ::stat(it->path.c_str(), &st) == 0 &&
                         std::uint64_t(st.st_dev) == it->dev && std::uint64_t(st.st_ino) == it->ino;
    if (present) {
      ++it;
      continue;
    }
    ::close(static_cast<int>(it->fd));
    it = held_.erase(it);
  }
}

void SessionLocks::Hold(const fs::path& file, bool isNetFile) {
  if (const Held* h = Find(file)) {
    // Still ours: take the lock again in case a descriptor closed elsewhere in this process
    // dropped it (classic fcntl locks belong to the process, not the descriptor).
    SetLock(h->fd, F_RDLCK);
    return;
  }
  Held h;
  h.path = file;
  std::error_code ec;
  if (isNetFile && fs::exists(file, ec)) {
    // Someone else's network control file: share it, never remove it.
    // O_NONBLOCK: a FIFO in its place must not wait for a writer; only a regular file is shared.
    h.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (h.fd < 0) {
      throw EngineError(ErrorCode::CannotLockNetFile,
                        "Cannot lock network file (" + Reason(errno) + ")", file.string());
    }
    struct stat kind {};
    if (::fstat(static_cast<int>(h.fd), &kind) != 0 || !S_ISREG(kind.st_mode)) {
      ::close(static_cast<int>(h.fd));
      throw EngineError(ErrorCode::CannotLockNetFile,
                        "Cannot lock network file (not a regular file)", file.string());
    }
    SetLock(h.fd, F_RDLCK);
  } else {
    // O_EXCL: whatever already has the name (a link, a FIFO) is never opened; 0666 less the
    // umask, as any new file.
    h.fd =
        ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (h.fd < 0) {
      const int err = errno;
      CannotCreate(file, isNetFile, err == EEXIST, Reason(err));
    }
    h.made = true;
    if (!SetLock(h.fd, F_RDLCK)) {
      const int err = errno;
      ::unlink(file.c_str());
      ::close(static_cast<int>(h.fd));
      throw EngineError(ErrorCode::CannotLockNetFile,
                        "Cannot lock network file (" + Reason(err) + ")", file.string());
    }
  }
  struct stat st {};
  if (::fstat(static_cast<int>(h.fd), &st) == 0) {
    h.dev = st.st_dev;
    h.ino = st.st_ino;
  }
  held_.push_back(std::move(h));
}

void SessionLocks::ReleaseAll() {
  for (Held& h : held_) {
    struct stat st {};
    if (h.made && ::stat(h.path.c_str(), &st) == 0 && std::uint64_t(st.st_dev) == h.dev &&
        std::uint64_t(st.st_ino) == h.ino) {
      ::unlink(h.path.c_str());
    }
    ::close(static_cast<int>(h.fd));
  }
  held_.clear();
}

}  // namespace zel::engine

#endif  // !_WIN32
