#include "repair/TableFiles.h"

#include <cstdio>

#include "engine/EngineError.h"
#include "engine/Verifier.h"
#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "run/MainScreen.h"

namespace zel::repair {

std::string LivePath(const std::string& folder, const std::string& table,
                     const std::string& extension) {
  return LiveFolder(folder) + table + extension;
}

std::string LiveFolder(const std::string& folder) {
  return "c:\\zelpos\\" + folder + "\\";
}

bool KeepSoundTable(const std::string& folder, const std::string& table) {
  const auto dataFile = platform::MapWindowsPath(LivePath(folder, table, ".DB"));
  try {
    engine::VerifyDataFile(dataFile);
  } catch (...) {
    return false;  // missing or damaged: the table may be replaced
  }
  std::string reason = "it still fails";
  try {
    engine::VerifyTable(dataFile, "");
  } catch (const std::exception& error) {
    reason = error.what();
  }
  TellTechnician(folder + "\\" + table + " is kept as it is: its data file is sound, but the " +
                 "table is still unusable (" + reason + "); run ZelUtil again once that is mended");
  return true;
}

void AddDeletionLines(TForm1& form, const std::string& folder, const std::string& table,
                      const std::array<bool, kTableFileSet.size()>& existed,
                      const std::array<bool, kTableFileSet.size()>& removed) {
  bool deleted = false;
  for (std::size_t i = 0; i < kTableFileSet.size(); ++i) {
    if (existed[i]) deleted = removed[i];
    if (!deleted) form.AddLine(form.lst2, "Delete " + folder + "\\" + table + "\\Index ....Failed");
  }
}

bool DeleteTableFileSet(TForm1& form, const std::string& folder, const std::string& table) {
  form.AddLine(form.lst2, "Deleting Old Table " + folder + "\\" + table + " ....");
  if (!form.SaveDamagedFiles(folder, table)) {
    form.RepaintList(form.lst2);
    return false;
  }
  auto& files = form.platform().files;
  std::array<bool, kTableFileSet.size()> existed{}, removed{};
  platform::DeletionBatch batch(files);
  for (std::size_t i = 0; i < kTableFileSet.size(); ++i) {
    const std::string path = LivePath(folder, table, kTableFileSet[i]);
    existed[i] = files.FileExists(path);
    if (existed[i]) removed[i] = files.DeleteFile(path);
  }
  files.FlushFolder(LiveFolder(folder));
  AddDeletionLines(form, folder, table, existed, removed);
  form.RepaintList(form.lst2);
  return true;
}

void TellTechnician(const std::string& text) {
  // Names in the text come from the disk: none may start a line of its own.
  std::fprintf(stderr, "zelutil: %s\n", platform::EscapeControls(text).c_str());
}

}  // namespace zel::repair
