#include "tools/zelcheck/LocksCommand.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/DriveMapping.h"
#include "platform/posix/FileHolders.h"
#include "platform/posix/FileLockProbe.h"
#include "tools/zelcheck/ExitStatus.h"
#include "tools/zelcheck/JsonOutput.h"
#include "tools/zelcheck/ShownText.h"
#include "tools/zelcheck/TargetPaths.h"

namespace fs = std::filesystem;

namespace zel::zelcheck {
namespace {

using zel::platform::SameNameIgnoringCase;

// The files Paradox engines leave in a folder to coordinate access: the per-folder lock files
// (PDOXUSRS.LCK, PARADOX.LCK, and the older protocol's TABLE.LCK) and the network control files
// (PDOXUSRS.NET, and the older PARADOX.NET).
bool IsLockFileName(const std::string& name) {
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0 && SameNameIgnoringCase(name.substr(dot), ".LCK"))
    return true;
  return SameNameIgnoringCase(name, "PDOXUSRS.NET") || SameNameIgnoringCase(name, "PARADOX.NET");
}

struct Holder {
  long pid = 0;
  std::string command;
  bool wineserver = false;
};

struct LockFile {
  std::string path;  // as the user wrote the folder: a Windows path stays one
  fs::path hostPath;
  unsigned long long size = 0;
  bool held = false;
  std::optional<Holder> holder;
};

// A command line on one line: control characters (a newline in an argument) as spaces.
// A command line's arguments are NUL-separated: spaces between them, every other control
// character escaped.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\0') c = ' ';
  return Shown(text);
}

std::string Joined(const std::string& folder, const std::string& name) {
  const bool windows = folder.size() >= 2 && folder[1] == ':';
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '/' || last == '\\') return folder + name;
  return folder + (windows ? "\\" : "/") + name;
}

}  // namespace

int RunLocks(const Options& options) {
  const fs::path folder = HostPath(options.target);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    std::cerr << "zelcheck: cannot read " << Shown(folder.string()) << ": "
              << (fs::exists(folder, ec) ? "not a folder" : "no such folder") << "\n";
    return kBadUse;
  }
  std::vector<LockFile> files;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    std::cerr << "zelcheck: cannot read " << Shown(folder.string()) << ": " << Shown(ec.message())
              << "\n";
    return kBadUse;
  }
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    if (!IsLockFileName(name) || !entry.is_regular_file(ec)) continue;
    files.push_back({Joined(options.target, name), entry.path(), 0, false, std::nullopt});
  }
  std::sort(files.begin(), files.end(),
            [](const LockFile& a, const LockFile& b) { return a.path < b.path; });

  // The run's test before a deletion: a lock another process holds, or its descriptor of the
  // file (on Windows: a sharing violation, and no name). One scan of the open files serves
  // every lock file; the holder is named as the run names it.
  const auto openFiles = zel::platform::OpenFilesSnapshot::Take();
  std::optional<zel::platform::FileHolders> holders;  // looked at once, when a file is held
  for (LockFile& f : files) {
    const auto size = fs::file_size(f.hostPath, ec);
    f.size = ec ? 0 : static_cast<unsigned long long>(size);
    f.held = zel::platform::IsLockedByOtherProcess(f.hostPath) || openFiles.IsOpen(f.hostPath);
    if (!f.held) continue;
    if (!holders) holders = zel::platform::FileHolders::Take();
    const auto holder = holders->HolderOf(f.hostPath);
    if (holder && !holder->command.empty())  // empty: the process has ended since
      f.holder = Holder{holder->pid, holder->command, zel::platform::IsWineserver(holder->pid)};
  }

  if (options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const LockFile& f : files) {
      nlohmann::json holder = nullptr;
      if (f.holder)
        holder = {{"pid", f.holder->pid},
                  {"command", f.holder->command},
                  {"wineserver", f.holder->wineserver}};
      list.push_back({{"path", f.path}, {"size", f.size}, {"held", f.held}, {"holder", holder}});
    }
    PrintJson(list);
    return kUsable;
  }
  if (files.empty()) std::cout << "no lock files in " << Shown(options.target) << "\n";
  for (const LockFile& f : files) {
    std::cout << Shown(f.path) << ": " << f.size << (f.size == 1 ? " byte, " : " bytes, ");
    if (!f.held) {
      std::cout << "stale\n";
    } else if (!f.holder) {
#ifdef _WIN32
      std::cout << "in use by another program (Windows does not say which)\n";
#else
      std::cout
          << "held by a process that cannot be named (another user's, or one that has ended)\n";
#endif
    } else {
      std::cout << "held by " << f.holder->pid << " " << OneLine(f.holder->command);
      if (f.holder->wineserver)
        std::cout << " (the wineserver: a Windows program under Wine holds the lock)";
      std::cout << "\n";
    }
  }
  return kUsable;
}

}  // namespace zel::zelcheck
