#pragma once
// Whether another live process holds a lock on a file. Windows refuses to delete or share a file
// in use; on Linux the programs that matter (the engine here, ZelPos's engine under Wine) take
// fcntl locks on the files they use, so a lock held by another process means "in use".
#include <compare>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <vector>

namespace zel::platform {

// True when a process other than this one holds an fcntl lock (classic or open-file-description)
// on any byte of the file. False when the file is free, missing or unreadable. Never takes a lock
// itself, and never closes a descriptor of the file that this process may hold locks through.
bool IsLockedByOtherProcess(const std::filesystem::path& file);

}  // namespace zel::platform

namespace zel::platform {

// Which files other processes have open, seen as fuser sees them: through the descriptors
// listed under /proc/<pid>/fd. Windows refuses to delete a file another program has open, and
// Wine keeps a Unix descriptor of every open Windows file (in the wineserver and in the
// program), so an open descriptor elsewhere means "in use" even without a lock.
// Calls `seen(pid, device, inode)` for every descriptor of a regular file that a process other
// than this one has open. Processes whose descriptors cannot be read (another user's, or gone
// meanwhile) are skipped.
void ForEachOpenFile(
    const std::function<void(long pid, unsigned long long dev, unsigned long long ino)>& seen);

// Leaves process `pid` out of this process's scans as well (a process whose scans it makes on
// that process's behalf: the privilege broker's child).
void ExcludeFromOpenFileScans(long pid);

class OpenFilesSnapshot {
 public:
  // Scans every process but this one; processes whose descriptors cannot be read (another
  // user's, or gone meanwhile) are skipped.
  static OpenFilesSnapshot Take();
  // True when another process had the file (the same device and inode) open at the scan.
  bool IsOpen(const std::filesystem::path& file) const;

 private:
  struct Id {
    unsigned long long dev;
    unsigned long long ino;
    auto operator<=>(const Id&) const = default;
  };
  std::vector<Id> open_;  // sorted
};

// How many /proc scans this process has made so far; lets tests see that a batch of deletions
// scans once.
std::size_t OpenFilesScanCount();

}  // namespace zel::platform

namespace zel::platform {

// True when the process is a wineserver. Wine takes a Windows program's file locks as POSIX
// locks on the wineserver's own descriptor, so the lock's owner is the wineserver, not the
// program.
bool IsWineserver(long pid);

}  // namespace zel::platform
