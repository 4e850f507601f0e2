#pragma once
// Which live process holds a file: a lock on it (from /proc/locks), else an open descriptor of
// it (from /proc/PID/fd), for telling a technician who keeps a lock file in use. One look at
// every process serves any number of files.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zel::platform {

struct FileHolder {
  long pid = 0;
  std::string command;  // the command line, arguments separated by spaces
};

class FileHolders {
 public:
  // Reads /proc/locks and the descriptors of every process but this one; processes that cannot
  // be read (another user's, or gone meanwhile) are skipped.
  static FileHolders Take();
  // A process other than this one that held a lock on `file` (preferred) or had it open at the
  // look; none when the file was free or is missing.
  std::optional<FileHolder> HolderOf(const std::filesystem::path& file) const;

 private:
  struct Use {
    unsigned long long dev;
    unsigned long long ino;
    long pid;
  };
  std::vector<Use> locks_;
  std::vector<Use> opens_;
};

// The command line of a process ("" when it cannot be read): /proc/PID/cmdline, else the name
// in /proc/PID/comm.
std::string ProcessCommand(long pid);

}  // namespace zel::platform
