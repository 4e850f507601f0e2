// Before a repair deletes or replaces a table's files, they are given a second name under
// C:\ZelPos\ZelUtil.Damaged\<date-time>\<folder>\, so that nothing a technician could salvage
// is lost. One folder per run, named by the time of the first save. The table's files are
// touched only once this has succeeded and is on disk.
#include <QDateTime>
#include <QVariant>
#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <string>

#include "platform/DriveMapping.h"
#include "repair/TableFiles.h"
#include "ui/MainScreen.h"

namespace {

constexpr const char* kDamagedRoot = "C:\\ZelPos\\ZelUtil.Damaged\\";
constexpr const char* kPosFolder = "C:\\ZelPos\\";
constexpr const char* kRunFolderProperty = "zelDamagedRunFolder";

// The file set a replacement deletes, and the .VAL file that goes with its indexes.
constexpr auto kSavedFileSet = [] {
  std::array<const char*, zel::repair::kTableFileSet.size() + 1> set{};
  std::copy(zel::repair::kTableFileSet.begin(), zel::repair::kTableFileSet.end(), set.begin());
  set.back() = ".VAL";
  return set;
}();

std::string TimeStamp(std::chrono::system_clock::time_point now) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms).toString("yyyyMMdd-HHmmss").toStdString();
}

bool FolderExists(const std::string& windowsPath) {
  std::error_code ec;
  return std::filesystem::is_directory(zel::platform::MapWindowsPath(windowsPath), ec);
}

}  // namespace

bool TForm1::SaveDamagedFiles(const std::string& folder, const std::string& table) {
  auto& files = platform().files;
  bool anyFile = false;
  for (const char* extension : kSavedFileSet)
    anyFile = anyFile || files.FileExists(zel::repair::LivePath(folder, table, extension));
  if (!anyFile) return true;  // nothing to lose

  QVariant runFolder = property(kRunFolderProperty);
  if (!runFolder.isValid()) {
    // A run started again within the same second (after a crash) gets a folder of its own.
    const std::string stamp = kDamagedRoot + TimeStamp(platform().system.Now());
    std::string name = stamp;
    for (int n = 2; FolderExists(name); ++n) name = stamp + "-" + std::to_string(n);
    runFolder = QString::fromStdString(name + "\\");
    setProperty(kRunFolderProperty, runFolder);
  }
  const std::string run = runFolder.toString().toStdString();
  const std::string target = run + folder + "\\";

  // New folders must survive a power cut too: each one's name is made durable in its parent.
  bool saved = files.CreateDirectories(target) && files.FlushFolder(target) &&
               files.FlushFolder(run) && files.FlushFolder(kDamagedRoot) &&
               files.FlushFolder(kPosFolder);
  for (const char* extension : kSavedFileSet) {
    if (!saved) break;
    const std::string source = zel::repair::LivePath(folder, table, extension);
    const std::string copy = target + table + extension;
    // A second name needs no room for the data; a file system without links gets a copy.
    if (files.FileExists(source))
      saved = files.LinkFile(source, copy) || files.CopyFile(source, copy, true);
  }
  if (saved) {
    Report.damagedFilesFolder = run;
    if (repairRecord_) repairRecord_->savedTo = target;
  } else {
    AddLine(lst2, "Save damaged files " + folder + "\\" + table + " ....Failed");
    zel::repair::TellTechnician(folder + "\\" + table +
                                " is left as it is: its files could not be saved in " + target);
  }
  return saved;
}
