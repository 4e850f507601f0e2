#include "report/ReportFolder.h"

#include <algorithm>
#include <ctime>
#include <vector>

#include "platform/FolderEntries.h"
#include "report/ReportFiles.h"
#include "report/ReportWriter.h"

namespace zel::report {
namespace fs = std::filesystem;
namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string ReportStamp(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  long offset = 0;
  const std::tm local = files::LocalTime(seconds, offset);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

bool IsReportName(const std::string& name) {
  constexpr std::size_t kStamp = 15;  // yyyyMMdd-HHmmss
  const std::string extension = ".json";
  if (name.size() < kStamp + extension.size() ||
      name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
    return false;
  const std::string stem = name.substr(0, name.size() - extension.size());
  if (!AllDigits(stem.substr(0, 8)) || stem[8] != '-' || !AllDigits(stem.substr(9, 6)))
    return false;
  if (stem.size() == kStamp) return true;
  return stem[kStamp] == '-' && AllDigits(stem.substr(kStamp + 1));
}

void EnsureReportFolder(const fs::path& folder) {
  files::MakeFolder(folder);
}

fs::path PublishReport(const fs::path& folder, std::chrono::system_clock::time_point started,
                       const std::string& document) {
  const std::string stamp = ReportStamp(started);
  for (int n = 1;; ++n) {
    const fs::path file =
        folder / (n == 1 ? stamp + ".json" : stamp + "-" + std::to_string(n) + ".json");
    if (WriteNewReport(file, document)) return file;
  }
}

std::size_t KeepNewestReports(const fs::path& folder, std::size_t keep) {
  // The folder is walked without following a link, in its place or in it: only this program's
  // own report files are ever removed.
  std::vector<platform::FolderEntry> reports;
  for (platform::FolderEntry& entry : platform::RegularFilesIn(folder)) {
    const std::string& name = entry.name;
    if (name.size() > 1 && name[0] == '.' && name.find(kTemporaryMark) != std::string::npos &&
        IsReportName(name.substr(1, name.find(kTemporaryMark) - 1))) {
      platform::RemoveRegularFile(folder, name);  // a write cut short
      continue;
    }
    if (IsReportName(name)) reports.push_back(std::move(entry));
  }
  if (reports.size() <= keep) return 0;
  // Newest first; within one modification time the later name is the newer report.
  std::sort(reports.begin(), reports.end(),
            [](const platform::FolderEntry& a, const platform::FolderEntry& b) {
              return a.modified != b.modified ? a.modified > b.modified : a.name > b.name;
            });
  std::size_t removed = 0;
  for (std::size_t i = keep; i < reports.size(); ++i)
    if (platform::RemoveRegularFile(folder, reports[i].name) == 0) ++removed;
  return removed;
}

}  // namespace zel::report
