#include "technician/StationGuard.h"

#include "platform/DriveMapping.h"
#include "platform/PosWindow.h"
#include "platform/posix/FileHolders.h"
#include "repair/TableFiles.h"
#include "steps/Step1Targets.h"

namespace zel::technician {

void RefuseWhilePosRuns(TechnicianContext& context) {
  if (context.posWindow.FindTopLevelWindow(steps::kPosWindowTitle))
    throw TechnicianError("ZelPos is running; close it first (no table was changed)");
}

std::string HolderOfTableFiles(const std::string& folder, const std::string& table) {
  const platform::FileHolders holders = platform::FileHolders::Take();
  for (const char* extension : repair::kKeptFileSet) {
    const std::string path = repair::LivePath(folder, table, extension);
    if (const auto holder = holders.HolderOf(platform::MapWindowsPath(path)))
      return path + " is in use by " + std::to_string(holder->pid) + " " + holder->command;
  }
  return "";
}

}  // namespace zel::technician
