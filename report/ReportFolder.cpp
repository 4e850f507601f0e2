#include "report/ReportFolder.h"

#include <algorithm>
#include <ctime>
#include <vector>

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
  struct Report {
    fs::file_time_type time;
    fs::path path;
  };
  std::vector<Report> reports;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryEc;
    if (!it->is_regular_file(entryEc) || it->is_symlink(entryEc)) continue;
    const std::string name = it->path().filename().string();
    if (name.size() > 1 && name[0] == '.' && name.find(kTemporaryMark) != std::string::npos &&
        IsReportName(name.substr(1, name.find(kTemporaryMark) - 1))) {
      fs::remove(it->path(), entryEc);  // a write cut short
      continue;
    }
    if (!IsReportName(name)) continue;
    const auto time = it->last_write_time(entryEc);
    if (!entryEc) reports.push_back({time, it->path()});
  }
  if (reports.size() <= keep) return 0;
  // Newest first; within one modification time the later name is the newer report.
  std::sort(reports.begin(), reports.end(), [](const Report& a, const Report& b) {
    return a.time != b.time ? a.time > b.time : a.path.filename() > b.path.filename();
  });
  std::size_t removed = 0;
  for (std::size_t i = keep; i < reports.size(); ++i) {
    std::error_code removeEc;
    if (fs::remove(reports[i].path, removeEc)) ++removed;
  }
  return removed;
}

}  // namespace zel::report
