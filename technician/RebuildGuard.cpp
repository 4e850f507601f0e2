#include "technician/RebuildGuard.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include "platform/EscapeText.h"
#include "platform/posix/FileHolders.h"

namespace zel::technician {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Under Wine the program's command line names its .exe; a window may not exist yet (or at all
// over SSH), so the processes are asked, not the display.
std::string ZelPosProcess() {
  const long self = static_cast<long>(::getpid());
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    const long pid = std::stol(name);
    if (pid == self) continue;
    const std::string command = platform::ProcessCommand(pid);
    if (Lower(command).find("zelpos.exe") != std::string::npos)
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
