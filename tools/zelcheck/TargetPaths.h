#pragma once
// The table or folder named on zelcheck's command line, as a host path.
#include <filesystem>
#include <string>

namespace zel::zelcheck {

// A Windows path ("C:\ZELPOS\...") maps into the Wine prefix; anything else is a host path.
std::filesystem::path HostPath(const std::string& arg);

// True when `path` is a regular file this process can open for reading; else `why` says why not.
// A file that cannot be read at all is a usage problem, not a verdict.
bool ReadableFile(const std::filesystem::path& path, std::string& why);

}  // namespace zel::zelcheck
