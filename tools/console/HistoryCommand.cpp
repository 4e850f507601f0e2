#include "tools/console/HistoryCommand.h"

#include <pwd.h>
#include <unistd.h>

#include <ostream>

#include "platform/DriveMapping.h"
#include "technician/History.h"
#include "technician/HistoryFolders.h"

namespace zel::console {
namespace {

namespace zt = technician;

constexpr const char* kRunReports = "C:\\ZelPos\\ZelUtil.Reports";
constexpr const char* kCheckReportsRoot = "/var/lib/zelutil/";

// Where the check service of this user writes; "" when the user has no name.
std::string DefaultCheckFolder() {
  const passwd* user = ::getpwuid(::geteuid());
  if (!user || !user->pw_name || !*user->pw_name) return {};
  return kCheckReportsRoot + std::string(user->pw_name);
}

void Gather(const std::filesystem::path& folder, const std::string& shownAs, char separator,
            zt::ReportNames names, std::vector<zt::ReportSource>& sources,
            std::vector<std::string>& notes) {
  zt::FolderReports found = zt::ReadReportFolder(folder, shownAs, separator, names);
  if (!found.exists) {
    notes.push_back("no reports in " + shownAs + " (no such folder)");
  } else if (!found.problem.empty()) {
    sources.push_back({shownAs, {}, found.problem});
  } else {
    for (zt::ReportSource& source : found.sources) sources.push_back(std::move(source));
  }
}

}  // namespace

int RunHistory(const Options& options, std::ostream& out) {
  std::vector<zt::ReportSource> sources;
  std::vector<std::string> notes;
  Gather(platform::MapWindowsPath(kRunReports), kRunReports, '\\', zt::ReportNames::RunReports,
         sources, notes);
  const std::string checks = options.historyDir.empty() ? DefaultCheckFolder() : options.historyDir;
  if (checks.empty())
    notes.push_back("no check reports: this user has no name to find " +
                    std::string(kCheckReportsRoot) + "<user> by (use --history-dir)");
  else
    Gather(checks, checks, '/', zt::ReportNames::AnyJson, sources, notes);

  const zt::History history = zt::MakeHistory(sources, std::move(notes));
  out << (options.historyJson ? zt::HistoryJson(history) : zt::HistoryText(history));
  out.flush();
  return history.unreadable.empty() ? kExitOk : kExitTables;
}

}  // namespace zel::console
