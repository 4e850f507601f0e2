#pragma once
// What Step 1 acts on, for the run and for a check that only looks: the POS program's window and
// the engine's lock files.
#include <optional>
#include <string>
#include <vector>

#include "platform/WindowsFiles.h"
#include "report/RunReport.h"

namespace zel::steps {

inline constexpr const char* kPosWindowTitle = "ZelPos";

// Step 1's lock files in the order it deletes them: C:\PDOXUSRS.NET, then PARADOX.LCK and
// PDOXUSRS.LCK of each data folder in Step 1's folder order; Windows paths as its lines give
// them.
std::vector<std::string> Step1LockFiles();

// The live process holding or having open the lock file at `windowsPath`, if any.
std::optional<report::ProcessRef> LockFileHolder(const std::string& windowsPath);

// Puts `records` in Step 1's order and adds one for each lock file not yet in it: "reported"
// with its holder when the file is there, else "absent". One look at every process serves all.
void RecordUntouchedLockFiles(platform::WindowsFiles& files,
                              std::vector<report::LockFileRecord>& records);

}  // namespace zel::steps
