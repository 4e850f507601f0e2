#pragma once
// A run started as root works with the till user's rights in a child process; the parent keeps
// root for the two things that need it and nothing else: asking logind to power the PC off, and
// reading every process's descriptors in /proc to name who holds a file. The child asks over a
// socket; the parent answers those two questions only, then ends with the child's exit status.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/PowerOff.h"

namespace zel::platform {

struct PrivilegedServices {
  // Asks for the power-off (ExitWindowsEx's flags); true when the system accepted it. Empty:
  // the program never powers off, and a request is refused.
  std::function<bool(unsigned flags)> powerOff;
  // Files named on root's command line outside the till user's prefix (a check's report, the
  // metrics for node_exporter): root writes them for the child, atomically, never through a link
  // at their own name. Only these paths, exactly.
  std::vector<std::filesystem::path> rootOutputs;
};

// Forks. Returns the child's side (nullopt) in the child, which goes on with the work; the
// parent serves the child's requests until it ends and returns its exit status (128 + signal
// when a signal ended it), or an error status with `error` when the fork failed.
std::optional<int> ForkPrivilegeBroker(const PrivilegedServices& services, std::string& error);

// True in a child that ForkPrivilegeBroker made: its /proc scans and power-off requests go to
// the parent.
bool HasPrivilegeBroker();

// The parent's scan of every process's descriptors (but the parent's and the child's own), as
// ForEachOpenFile gives them. False when the broker could not be asked.
bool BrokerForEachOpenFile(
    const std::function<void(long pid, unsigned long long dev, unsigned long long ino)>& seen);

// True when `file` is one of the parent's rootOutputs (the child must then have root write it).
bool BrokerWritesFile(const std::filesystem::path& file);

// Has the parent write `bytes` to `file` (one of its rootOutputs) in one step: a temporary file
// in the same folder, synced, renamed over `file`, the folder synced. False with the reason in
// `error`.
bool BrokerWriteFile(const std::filesystem::path& file, const std::string& bytes,
                     std::string& error);

// A power-off that the parent asks for.
class BrokeredPowerOff : public PowerOff {
 public:
  void AcquireShutdownRight() override {}
  bool RequestShutdown(unsigned flags) override;
};

}  // namespace zel::platform
