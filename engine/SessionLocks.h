#pragma once
// The lock files a session keeps: PARADOX.LCK and PDOXUSRS.LCK in each folder holding an open
// table, and the network control file. Each one the session makes is held (on POSIX with a
// classic fcntl lock, per process, so another process's probe sees it; on Windows open without
// sharing it for deletion, with a LockFileEx lock) and removed when the session ends.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zel::engine {

class SessionLocks {
 public:
  SessionLocks() = default;
  ~SessionLocks();
  SessionLocks(const SessionLocks&) = delete;
  SessionLocks& operator=(const SessionLocks&) = delete;

  // Raises when `dir` holds a lock file this session did not make: "Directory is busy" when
  // another live process holds it, else "Directory is controlled by other .NET file". For an
  // open that writes nothing (`leftoversCount` false), lock files nobody holds are leftovers
  // and do not count; one a live process holds still makes the folder busy.
  void CheckFolder(const std::filesystem::path& dir, bool leftoversCount = true) const;
  // Makes (or keeps) this session's lock files in `dir` and the network control file
  // `netFile`, and holds a lock on each. A network control file made by someone else is used
  // as it is and left in place.
  void Acquire(const std::filesystem::path& dir, const std::filesystem::path& netFile);
  // Removes the lock files this session made that are still in place and drops every lock.
  void ReleaseAll();
  // True when `file` is a lock file this session made and still holds.
  bool IsOurs(const std::filesystem::path& file) const;

  static constexpr const char* kParadoxLck = "PARADOX.LCK";
  static constexpr const char* kPdoxUsrsLck = "PDOXUSRS.LCK";

 private:
  struct Held {
    std::filesystem::path path;
    // Which file it is, whatever its name: device and inode, or volume and file index.
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::intptr_t fd = -1;  // a file descriptor, or a Windows HANDLE
    bool made = false;
  };
  const Held* Find(const std::filesystem::path& file) const;
  // A live process other than this one holds the lock file (the system's own test).
  static bool HeldByOtherProcess(const std::filesystem::path& file);
  // Raises the engine's error for a lock file that could not be made.
  [[noreturn]] static void CannotCreate(const std::filesystem::path& file, bool isNetFile,
                                        bool exists, const std::string& reason);
  void Prune();
  void Hold(const std::filesystem::path& file, bool isNetFile);
  std::vector<Held> held_;
};

}  // namespace zel::engine
