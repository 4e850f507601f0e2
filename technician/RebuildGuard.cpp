#include "technician/RebuildGuard.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "platform/posix/FileHolders.h"

namespace zel::technician {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::filesystem::path Canonical(const std::filesystem::path& p) {
  std::error_code ec;
  const std::filesystem::path c = std::filesystem::weakly_canonical(p, ec);
  return ec ? p : c;
}

// Whether process `pid` works on the Wine prefix `prefix`: its WINEPREFIX, else its HOME's
// .wine, as Wine picks it. A process whose environment cannot be read counts as one that does.
bool WorksOnPrefix(const std::string& pid, const std::filesystem::path& prefix) {
  // Read with plain calls: a process that ends meanwhile fails the read (ESRCH), never throws.
  std::string env;
  const int fd = ::open(("/proc/" + pid + "/environ").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0 && env.size() < (1u << 20);)
    env.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  std::string winePrefix, home;
  for (std::size_t at = 0; at < env.size();) {
    const std::size_t end = std::min(env.find('\0', at), env.size());
    const std::string entry = env.substr(at, end - at);
    if (entry.rfind("WINEPREFIX=", 0) == 0) winePrefix = entry.substr(11);
    if (entry.rfind("HOME=", 0) == 0) home = entry.substr(5);
    at = end + 1;
  }
  if (winePrefix.empty() && home.empty()) return true;
  const std::filesystem::path theirs = winePrefix.empty() ? std::filesystem::path(home) / ".wine"
                                                          : std::filesystem::path(winePrefix);
  return Canonical(theirs) == Canonical(prefix);
}

// Under Wine the program's command line names its .exe; a window may not exist yet (or at all
// over SSH), so the processes are asked, not the display. Only a ZelPos of this Wine prefix
// counts: another prefix's (another test station) uses other tables.
std::string ZelPosProcess() {
  const std::filesystem::path prefix = platform::WinePrefix();
  const long self = static_cast<long>(::getpid());
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    const long pid = std::stol(name);
    if (pid == self) continue;
    std::string command;
    try {
      command = platform::ProcessCommand(pid);
    } catch (const std::exception&) {
      continue;  // it ended while its command line was read (the read fails with ESRCH)
    }
    if (Lower(command).find("zelpos.exe") != std::string::npos && WorksOnPrefix(name, prefix))
      return "pid " + name + " " + platform::EscapeControls(command);
  }
  return {};
}

}  // namespace

std::string WhyTableIsBusy(const std::vector<std::filesystem::path>& files) {
  if (const std::string pos = ZelPosProcess(); !pos.empty())
    return "ZelPos is running: " + pos + "; close it first";
  const platform::FileHolders holders = platform::FileHolders::Take();
  for (const std::filesystem::path& file : files) {
    if (const auto holder = holders.HolderOf(file))
      return platform::EscapeControls(file.string()) + " is held by pid " +
             std::to_string(holder->pid) + " " + platform::EscapeControls(holder->command);
  }
  return {};
}

}  // namespace zel::technician
