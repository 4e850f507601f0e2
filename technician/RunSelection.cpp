#include "technician/RunSelection.h"

#include <algorithm>
#include <cctype>

#include "platform/DriveMapping.h"
#include "platform/posix/SmallFiles.h"
#include "report/ReportFolder.h"
#include "report/ReportReader.h"
#include "technician/TechnicianContext.h"

namespace zel::technician {
namespace fs = std::filesystem;
namespace {

constexpr const char* kReportFolder = "C:\\ZelPos\\ZelUtil.Reports";
constexpr std::size_t kReportLimit = 16u << 20;

bool IsWindowsPath(const std::string& text) {
  return text.size() > 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
         (text[2] == '\\' || text[2] == '/');
}

fs::path HostPath(const std::string& text) {
  return IsWindowsPath(text) ? platform::MapWindowsPath(text) : fs::path(text);
}

// A report name's time and its number within that second: "20261211-080451-2.json" comes after
// "20261211-080451.json".
std::pair<std::string, int> NameOrder(const fs::path& file) {
  const std::string stem = file.stem().string();
  const std::size_t dash = stem.find('-', 9);
  if (dash == std::string::npos) return {stem, 1};
  return {stem.substr(0, dash), std::atoi(stem.c_str() + dash + 1)};
}

bool ReplacedATable(const report::RunReport& report) {
  if (report.kind && *report.kind != report::ReportKind::Run) return false;
  // A replacement that went ahead kept the old files or found none to keep; one that stopped
  // (no usable backup, files that could not be kept) touched nothing.
  return std::any_of(report.tables.begin(), report.tables.end(), [](const auto& table) {
    return table.repair &&
           (table.repair->kind == report::RepairKind::NewEmpty ||
            table.repair->kind == report::RepairKind::Restore) &&
           (table.repair->savedTo || !table.repair->touchedFiles.empty());
  });
}

}  // namespace

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  const bool same = fs::equivalent(a, b, ec);
  return !ec && same;
}

std::vector<fs::path> StationReports() {
  std::vector<fs::path> reports;
  std::error_code ec;
  const fs::path folder = platform::MapWindowsPath(kReportFolder);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (report::IsReportName(name) && it->is_regular_file(ec) && !it->is_symlink(ec))
      reports.push_back(it->path());
  }
  std::sort(reports.begin(), reports.end(),
            [](const fs::path& a, const fs::path& b) { return NameOrder(a) < NameOrder(b); });
  return reports;
}

report::RunReport ReadReport(const fs::path& file) {
  const std::string document = platform::ReadSmallRegularFile(file, kReportLimit);
  if (document.empty())
    throw TechnicianError(file.string() + " cannot be read as a report (missing, empty, not a " +
                          "regular file or larger than 16 MiB)");
  try {
    return report::ParseReport(document, file.string());
  } catch (const report::ReportReadError& error) {
    throw TechnicianError(error.what());
  }
}

SelectedRun SelectRun(const std::string& run) {
  if (run == "latest") {
    const std::vector<fs::path> reports = StationReports();
    for (auto it = reports.rbegin(); it != reports.rend(); ++it) {
      try {
        report::RunReport report = ReadReport(*it);
        if (ReplacedATable(report)) return {*it, std::move(report)};
      } catch (const TechnicianError&) {
        // An unreadable report is no candidate; the next older one may be.
      }
    }
    throw TechnicianError("no report in " + std::string(kReportFolder) +
                          " names a run that replaced or restored a table");
  }
  const fs::path path = HostPath(run);
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    // A run's folder under ZelUtil.Damaged: the report that names it.
    for (const fs::path& file : StationReports()) {
      try {
        report::RunReport report = ReadReport(file);
        if (report.damagedFilesFolder &&
            SameFile(platform::MapWindowsPath(*report.damagedFilesFolder), path) &&
            (!report.kind || *report.kind == report::ReportKind::Run))
          return {file, std::move(report)};
      } catch (const TechnicianError&) {
      }
    }
    throw TechnicianError("no report in " + std::string(kReportFolder) + " names the run folder " +
                          run);
  }
  return {path, ReadReport(path)};
}

}  // namespace zel::technician
