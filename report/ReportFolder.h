#pragma once
// The folder of run reports (C:\ZelPos\ZelUtil.Reports): one file per run, named by the time
// the run started, the newest ones kept.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>

namespace zel::report {

inline constexpr std::size_t kReportsKept = 100;

// "yyyyMMdd-HHmmss" in local time.
std::string ReportStamp(std::chrono::system_clock::time_point time);

// True for the names this folder gives: "yyyyMMdd-HHmmss.json" or "yyyyMMdd-HHmmss-N.json".
bool IsReportName(const std::string& name);

// Creates `folder` when missing, never its parent (a missing parent is an error), and makes the
// new name durable in the parent. Raises ReportError naming the folder.
void EnsureReportFolder(const std::filesystem::path& folder);

// Writes `document` into `folder` under a name of its own: the stamp of `started`, with "-2",
// "-3", ... when a report of that second is already there. The path written; raises
// ReportError.
std::filesystem::path PublishReport(const std::filesystem::path& folder,
                                    std::chrono::system_clock::time_point started,
                                    const std::string& document);

// Removes the oldest reports (by modification time, then name) beyond the newest `keep`, and
// temporary files a write cut short left. Other files are never touched; what cannot be removed
// stays. The number of reports removed.
std::size_t KeepNewestReports(const std::filesystem::path& folder, std::size_t keep = kReportsKept);

}  // namespace zel::report
