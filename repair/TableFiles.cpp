#include "repair/TableFiles.h"

#include <cstdio>

#include "engine/EngineError.h"
#include "engine/Verifier.h"
#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "platform/FileDigest.h"
#include "platform/WindowsFiles.h"
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

bool SwapInTableFiles(platform::WindowsFiles& files, const std::string& folder,
                      const std::string& table,
                      std::array<std::string, kTableFileSet.size()>& staged,
                      const std::array<bool, kTableFileSet.size()>& existed,
                      std::array<bool, kTableFileSet.size()>& removed) {
  bool complete = true;
  platform::DeletionBatch batch(files);
  // The indexes first and the data file last: until the data file is swapped, the table keeps
  // failing its test and a rerun repairs it again.
  constexpr std::array<std::size_t, kTableFileSet.size()> kSwapOrder = {1, 2, 3, 4, 5, 6, 7, 0};
  for (const std::size_t i : kSwapOrder) {
    const std::string live = LivePath(folder, table, kTableFileSet[i]);
    bool done = true;
    if (!staged[i].empty()) {
      done = files.MoveFile(staged[i], live);
      if (done) staged[i].clear();
    } else if (existed[i]) {
      done = files.DeleteFile(live);
    }
    removed[i] = done;
    // An old index left beside the new data would pair the wrong files: stop before the data.
    if (!done) {
      complete = false;
      break;
    }
  }
  files.FlushFolder(LiveFolder(folder));
  for (std::string& path : staged)
    if (!path.empty()) files.DeleteFile(path);
  return complete;
}

void NoteKeptFile(report::RepairRecord& record, const std::string& name,
                  const std::string& keptPath) {
  for (const std::string& touched : record.touchedFiles)
    if (touched == name) return;
  record.touchedFiles.push_back(name);
  if (!keptPath.empty()) record.keptFiles.push_back({name, keptPath});
}

std::vector<report::ManifestEntry> ManifestOf(platform::WindowsFiles& files,
                                              const std::string& folder, const std::string& table) {
  std::vector<report::ManifestEntry> manifest;
  for (const char* extension : kKeptFileSet) {
    const std::string path = LivePath(folder, table, extension);
    if (!files.FileExists(path)) continue;
    if (const auto digest = platform::DigestOfFile(platform::MapWindowsPath(path).string()))
      manifest.push_back({table + extension, digest->size, digest->sha256});
  }
  return manifest;
}

void TellTechnician(const std::string& text) {
  // Names in the text come from the disk: none may start a line of its own.
  std::fprintf(stderr, "zelutil: %s\n", platform::EscapeControls(text).c_str());
}

}  // namespace zel::repair
