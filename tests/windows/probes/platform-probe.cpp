// Drives ZelUtil's Win32 platform services one command at a time, for the Linux tests under
// Wine. Commands come on standard input, one a line, fields separated by tabs; each prints one
// line on standard output, at once:
//   exists PATH | delete PATH | session-delete PATH    -> true | false ERROR
//   copy FROM TO FAIL_IF_EXISTS(0|1) | link FROM TO | move FROM TO
//   mkdirs PATH | flush-folder PATH                    -> true | false ERROR
//   append PATH TEXT                                   -> the Windows error code, 0 when done
//   hold PATH        opens PATH sharing reading and writing but not deletion -> held | false ERROR
//   release PATH     closes it again                   -> released
//   ini FILE SECTION KEY DEFAULT                       -> [value]
//   find-window TITLE                                  -> found | none
//   close-window TITLE  finds it and posts WM_CLOSE    -> posted | none
//   run-lock                                           -> Taken | HeldByOtherRun | NoFolder |
//                                                         error: MESSAGE
//   crash            ends the process at once, as a crash would (exit code 3)
//   power-off FLAGS  the shutdown right, then a simulated request -> right SeShutdownPrivilege
//                    enabled|disabled, then accepted; only with ZELUTIL_SIMULATE_POWER_OFF=1
//   sleep MS         -> slept ELAPSED_MS
//   beep             -> beeped
//   clock            -> skew MS (Now() against the system's time)
// Unknown commands print "unknown COMMAND" and the probe ends with exit code 2.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/IniReader.h"
#include "platform/RunLock.h"
#include "platform/WindowsFiles.h"
#include "platform/posix/SimulatedPowerOff.h"
#include "platform/win32/Win32PosWindow.h"
#include "platform/win32/Win32PowerOff.h"
#include "platform/win32/Win32SystemServices.h"

namespace zp = zel::platform;

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string::size_type start = 0;
  for (;;) {
    const auto tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

void Say(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void SayResult(bool done) {
  // Read at once: the next call would replace it.
  const DWORD error = GetLastError();
  Say(done ? "true" : "false " + std::to_string(error));
}

bool ShutdownPrivilegeEnabled() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  LUID shutdown{};
  PRIVILEGE_SET wanted{};
  BOOL enabled = FALSE;
  if (LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &shutdown)) {
    wanted.PrivilegeCount = 1;
    wanted.Control = PRIVILEGE_SET_ALL_NECESSARY;
    wanted.Privilege[0].Luid = shutdown;
    if (!PrivilegeCheck(token, &wanted, &enabled)) enabled = FALSE;
  }
  CloseHandle(token);
  return enabled != FALSE;
}

// FILETIME's epoch is 1601; the Unix epoch is 11644473600 s later.
long long SystemClockMs() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<long long>(ticks / 10000) - 11644473600000LL;
}

}  // namespace

int main() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  zp::WindowsFiles& files = zp::HostFiles();
  zp::Win32PosWindow posWindow;
  zp::Win32SystemServices system;
  std::map<std::string, HANDLE> held;

  char buffer[65536];
  while (std::fgets(buffer, sizeof buffer, stdin)) {
    std::string line = buffer;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> f = Fields(line);
    const std::string& command = f[0];
    const auto arg = [&f](std::size_t i) { return i < f.size() ? f[i] : std::string(); };

    if (command == "exists") {
      SayResult(files.FileExists(arg(1)));
    } else if (command == "delete") {
      SayResult(files.DeleteFile(arg(1)));
    } else if (command == "session-delete") {
      SayResult(files.DeleteSessionLockFile(arg(1)));
    } else if (command == "copy") {
      SayResult(files.CopyFile(arg(1), arg(2), arg(3) == "1"));
    } else if (command == "link") {
      SayResult(files.LinkFile(arg(1), arg(2)));
    } else if (command == "move") {
      SayResult(files.MoveFile(arg(1), arg(2)));
    } else if (command == "mkdirs") {
      SayResult(files.CreateDirectories(arg(1)));
    } else if (command == "flush-folder") {
      SayResult(files.FlushFolder(arg(1)));
    } else if (command == "append") {
      Say(std::to_string(files.AppendToFile(arg(1), arg(2))));
    } else if (command == "hold") {
      const HANDLE file =
          CreateFileA(arg(1).c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        SayResult(false);
      } else {
        held[arg(1)] = file;
        Say("held");
      }
    } else if (command == "release") {
      if (const auto it = held.find(arg(1)); it != held.end()) {
        CloseHandle(it->second);
        held.erase(it);
      }
      Say("released");
    } else if (command == "ini") {
      Say("[" + zp::HostIni().ReadString(arg(1), arg(2), arg(3), arg(4)) + "]");
    } else if (command == "find-window") {
      Say(posWindow.FindTopLevelWindow(arg(1)) ? "found" : "none");
    } else if (command == "close-window") {
      const auto window = posWindow.FindTopLevelWindow(arg(1));
      if (window) posWindow.PostCloseRequest(*window);
      Say(window ? "posted" : "none");
    } else if (command == "run-lock") {
      try {
        switch (zp::HostRunLock().Take()) {
          case zp::RunLock::Outcome::Taken:
            Say("Taken");
            break;
          case zp::RunLock::Outcome::HeldByOtherRun:
            Say("HeldByOtherRun");
            break;
          case zp::RunLock::Outcome::NoFolder:
            Say("NoFolder");
            break;
        }
      } catch (const std::exception& e) {
        Say(std::string("error: ") + e.what());
      }
    } else if (command == "crash") {
      TerminateProcess(GetCurrentProcess(), 3);
    } else if (command == "power-off") {
      // Never the real ExitWindowsEx: without the simulation the probe refuses.
      const char* simulate = std::getenv("ZELUTIL_SIMULATE_POWER_OFF");
      if (!simulate || std::strcmp(simulate, "1") != 0) {
        Say("refused: ZELUTIL_SIMULATE_POWER_OFF=1 is not set");
        return 2;
      }
      zp::Win32PowerOff().AcquireShutdownRight();
      Say(std::string("right SeShutdownPrivilege ") +
          (ShutdownPrivilegeEnabled() ? "enabled" : "disabled"));
      zp::SimulatedPowerOff simulated;
      simulated.AcquireShutdownRight();
      const unsigned flags = static_cast<unsigned>(std::strtoul(arg(1).c_str(), nullptr, 10));
      Say(simulated.RequestShutdown(flags) ? "accepted" : "refused");
    } else if (command == "sleep") {
      const auto start = std::chrono::steady_clock::now();
      system.Sleep(std::atoi(arg(1).c_str()));
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      Say("slept " + std::to_string(elapsed.count()));
    } else if (command == "beep") {
      system.Beep();
      Say("beeped");
    } else if (command == "clock") {
      const long long now =
          std::chrono::duration_cast<std::chrono::milliseconds>(system.Now().time_since_epoch())
              .count();
      Say("skew " + std::to_string(now - SystemClockMs()));
    } else {
      Say("unknown " + command);
      return 2;
    }
  }
  for (const auto& [path, file] : held) CloseHandle(file);
  return 0;
}
