#include "steps/Step1Targets.h"

#include <algorithm>
#include <optional>

#include "catalogue/Catalogue.h"
#include "platform/DriveMapping.h"
#include "platform/posix/FileHolders.h"

namespace zel::steps {
namespace {

std::optional<report::ProcessRef> ToProcess(const std::optional<platform::FileHolder>& holder) {
  if (!holder) return std::nullopt;
  return report::ProcessRef{holder->pid, holder->command};
}

}  // namespace

std::vector<std::string> Step1LockFiles() {
  std::vector<std::string> paths{"C:\\PDOXUSRS.NET"};
  for (const std::string_view folder : catalogue::LockResetOrder()) {
    const std::string base = "C:\\ZELPOS\\" + std::string(folder) + "\\";
    paths.push_back(base + "PARADOX.LCK");
    paths.push_back(base + "PDOXUSRS.LCK");
  }
  return paths;
}

std::optional<report::ProcessRef> LockFileHolder(const std::string& windowsPath) {
  return ToProcess(platform::FileHolders::Take().HolderOf(platform::MapWindowsPath(windowsPath)));
}

void RecordUntouchedLockFiles(platform::WindowsFiles& files,
                              std::vector<report::LockFileRecord>& records) {
  std::optional<platform::FileHolders> holders;  // taken at the first file that is there
  std::vector<report::LockFileRecord> ordered;
  for (const std::string& path : Step1LockFiles()) {
    const auto done = std::find_if(records.begin(), records.end(),
                                   [&path](const auto& record) { return record.path == path; });
    if (done != records.end()) {
      ordered.push_back(*done);
      continue;
    }
    report::LockFileRecord record{path, report::LockAction::Absent, std::nullopt};
    if (files.FileExists(path)) {
      if (!holders) holders = platform::FileHolders::Take();
      record.action = report::LockAction::Reported;
      record.heldBy = ToProcess(holders->HolderOf(platform::MapWindowsPath(path)));
    }
    ordered.push_back(std::move(record));
  }
  records = std::move(ordered);
}

}  // namespace zel::steps
