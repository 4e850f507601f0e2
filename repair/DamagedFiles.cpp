// Before a repair deletes a table's data file, its files are copied aside so that nothing a
// technician could salvage is lost. One folder per run, named by the time of the first save.
#include <QDateTime>
#include <QVariant>
#include <algorithm>
#include <array>
#include <chrono>
#include <string>

#include "repair/TableFiles.h"
#include "ui/MainScreen.h"

namespace {

constexpr const char* kDamagedRoot = "C:\\ZelPos\\ZelUtil.Damaged\\";
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

}  // namespace

void TForm1::SaveDamagedFiles(const std::string& folder, const std::string& table) {
  auto& files = platform().files;
  bool anyFile = false;
  for (const char* extension : kSavedFileSet)
    anyFile = anyFile || files.FileExists(zel::repair::LivePath(folder, table, extension));
  if (!anyFile) return;  // nothing to lose

  QVariant runFolder = property(kRunFolderProperty);
  if (!runFolder.isValid()) {
    runFolder = QString::fromStdString(kDamagedRoot + TimeStamp(platform().system.Now()) + "\\");
    setProperty(kRunFolderProperty, runFolder);
  }
  const std::string target = runFolder.toString().toStdString() + folder + "\\";

  bool saved = files.CreateDirectories(target);
  for (const char* extension : kSavedFileSet) {
    if (!saved) break;
    const std::string source = zel::repair::LivePath(folder, table, extension);
    if (files.FileExists(source)) saved = files.CopyFile(source, target + table + extension, false);
  }
  // The repair goes on either way; the operator must see that the old files were not kept.
  if (!saved) AddLine(lst2, "Save damaged files " + folder + "\\" + table + " ....Failed");
}
