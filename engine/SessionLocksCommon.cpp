// The session's lock files: what is the same on every system. How a file is held, found again
// and let go is in SessionLocksPosix.cpp and SessionLocksWin32.cpp.
#include <optional>
#include <string>
#include <system_error>

#include "engine/EngineError.h"
#include "engine/SessionLocks.h"
#include "platform/DriveMapping.h"
#include "platform/posix/FileLockProbe.h"

namespace zel::engine {
namespace fs = std::filesystem;

namespace {

std::optional<fs::path> FindIgnoringCase(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (fs::exists(dir / name, ec)) return dir / name;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (platform::SameNameIgnoringCase(it->path().filename().string(), name)) return it->path();
  }
  return std::nullopt;
}

}  // namespace

void SessionLocks::CannotCreate(const fs::path& file, bool isNetFile, bool exists,
                                const std::string& reason) {
  if (exists && !isNetFile) {
    // Made by someone else between the look and the creation: a foreign session's file.
    throw EngineError(ErrorCode::ForeignNetFile, "Directory is controlled by other .NET file",
                      file.string());
  }
  if (isNetFile) {
    throw EngineError(
        ErrorCode::NetworkInitFailed,
        "Network initialization failed (cannot create the network control file: " + reason + ")",
        file.string());
  }
  throw EngineError(ErrorCode::CannotLockNetFile,
                    "Cannot lock network file (cannot create the lock file: " + reason + ")",
                    file.string());
}

// The system's own test: an fcntl lock on POSIX; on Windows a sharing violation, as Borland's
// engine and this one keep their lock files open.
bool SessionLocks::HeldByOtherProcess(const fs::path& file) {
  return platform::IsLockedByOtherProcess(file);
}

SessionLocks::~SessionLocks() {
  ReleaseAll();
}

bool SessionLocks::IsOurs(const fs::path& file) const {
  const Held* h = Find(file);
  return h && h->made;
}

void SessionLocks::CheckFolder(const fs::path& dir, bool leftoversCount) const {
  for (const char* name : {kParadoxLck, kPdoxUsrsLck}) {
    const auto found = FindIgnoringCase(dir, name);
    if (!found || IsOurs(*found)) continue;
    if (HeldByOtherProcess(*found)) {
      throw EngineError(ErrorCode::DirectoryBusy,
                        "Directory is busy (lock file in use by another program)", found->string());
    }
    if (leftoversCount) {
      throw EngineError(ErrorCode::ForeignNetFile, "Directory is controlled by other .NET file",
                        found->string());
    }
  }
}

void SessionLocks::Acquire(const fs::path& dir, const fs::path& netFile) {
  Prune();
  Hold(netFile, true);
  for (const char* name : {kParadoxLck, kPdoxUsrsLck}) {
    const auto found = FindIgnoringCase(dir, name);
    Hold(found ? *found : dir / name, false);
  }
}

}  // namespace zel::engine
