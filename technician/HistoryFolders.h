#pragma once
// The report files of one folder, read the way files under a till user's control are read:
// regular files only, never through a link, never blocking on a FIFO, at most a few MiB each.
// A file that cannot be read is returned with the reason, never left out.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "technician/History.h"

namespace zel::technician {

// A run report is a few dozen KiB; anything far larger is not one.
inline constexpr std::size_t kReportSizeCap = 4u << 20;

enum class ReportNames {
  RunReports,  // "yyyyMMdd-HHmmss[-N].json", as the station's report folder names them
  AnyJson      // every "*.json" not starting with "."
};

struct FolderReports {
  bool exists = true;   // false: no such folder (no report written there yet)
  std::string problem;  // the folder itself could not be read
  std::vector<ReportSource> sources;
};

// Every report file of `folder`, each shown as `shownAs` + separator + its name.
FolderReports ReadReportFolder(const std::filesystem::path& folder, const std::string& shownAs,
                               char separator, ReportNames names);

}  // namespace zel::technician
