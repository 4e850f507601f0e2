#pragma once
// The report names files as the lists do, by their Windows paths.
#include <filesystem>
#include <string>

namespace zel::report {

// "C:\ZELPOS\TEMPDATA\ATTLOG.DB" for a host path under `driveC` (drive C:'s host folder); any
// other path is given as it is.
std::string WindowsPathOf(const std::filesystem::path& hostPath,
                          const std::filesystem::path& driveC);

}  // namespace zel::report
