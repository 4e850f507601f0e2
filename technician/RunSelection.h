#pragma once
// Which run a technician's command works on: RUN is a report file (a host path or a C:\ path),
// the run's folder under C:\ZelPos\ZelUtil.Damaged, or "latest", the newest run that replaced or
// restored a table.
#include <filesystem>
#include <string>
#include <vector>

#include "report/RunReport.h"

namespace zel::technician {

struct SelectedRun {
  std::filesystem::path reportFile;  // host path, as found
  report::RunReport report;
};

// Raises TechnicianError naming RUN when it names no readable report, or, for a folder or
// "latest", when no report names such a run.
SelectedRun SelectRun(const std::string& run);

// The station's reports (C:\ZelPos\ZelUtil.Reports\*.json), oldest first by their names' times.
std::vector<std::filesystem::path> StationReports();

// The report at `file`, read as a regular file of at most a few MiB; raises TechnicianError.
report::RunReport ReadReport(const std::filesystem::path& file);

// True when two host paths name one file (a report named two ways).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace zel::technician
