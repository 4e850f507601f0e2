#pragma once
// What keeps a rebuild from starting: ZelPos running, or another process holding one of the
// table's files. A table replaced under a program that has it open would be lost to it.
#include <filesystem>
#include <string>
#include <vector>

namespace zel::technician {

// Empty when no ZelPos process runs on this Wine prefix and no other process holds a lock on or has
// open one of `files`; else why not, naming the process ("ZelPos is running: pid 812 wine
// C:\ZelPos\...", "PATH is held by pid 812 COMMAND").
std::string WhyTableIsBusy(const std::vector<std::filesystem::path>& files);

}  // namespace zel::technician
