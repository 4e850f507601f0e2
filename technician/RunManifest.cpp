#include "technician/RunManifest.h"

#include <algorithm>
#include <array>
#include <filesystem>

#include "platform/AsciiCase.h"
#include "platform/DriveMapping.h"
#include "platform/FileDigest.h"
#include "platform/FolderEntries.h"
#include "platform/WindowsFiles.h"
#include "repair/TableFiles.h"
#include "report/ReportFolder.h"

namespace zel::technician {
namespace {

using platform::AsciiUpper;

constexpr const char* kDamagedRoot = "C:\\ZelPos\\ZelUtil.Damaged\\";
constexpr const char* kPosFolder = "C:\\ZelPos\\";

std::string Extension(const std::string& table, const std::string& name) {
  return name.size() > table.size() ? name.substr(table.size()) : "";
}

}  // namespace

std::string ChangedSince(platform::WindowsFiles& files, const std::string& folder,
                         const report::RepairRecord& repair) {
  for (const std::string& name : repair.touchedFiles) {
    const std::string live = repair::LiveFolder(folder) + name;
    const auto entry = std::find_if(
        repair.manifest.begin(), repair.manifest.end(),
        [&](const report::ManifestEntry& e) { return AsciiUpper(e.name) == AsciiUpper(name); });
    const bool exists = files.FileExists(live);
    if (entry == repair.manifest.end()) {
      if (exists) return live + " was made since";
      continue;
    }
    if (!exists) return live + " was removed since";
    const auto digest = platform::DigestOfFile(platform::MapWindowsPath(live).string());
    if (!digest) return live + " cannot be read";
    if (digest->size != entry->size || digest->sha256 != entry->sha256)
      return live + " has changed since";
  }
  return "";
}

std::string MakeCommandFolder(TechnicianContext& context, const std::string& what) {
  const std::string stamp = kDamagedRoot + report::ReportStamp(context.now()) + "-" + what;
  std::string name = stamp;
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(platform::MapWindowsPath(name), ec); ++n)
    name = stamp + "-" + std::to_string(n);
  for (const std::string& folder : {std::string(kDamagedRoot), name})
    if (platform::IsSymbolicLink(platform::MapWindowsPath(
            folder.back() == '\\' ? folder.substr(0, folder.size() - 1) : folder)))
      throw TechnicianError(folder + " is a symbolic link; it is not followed");
  auto& files = context.files;
  if (!files.CreateDirectories(name) || !files.FlushFolder(name) ||
      !files.FlushFolder(kDamagedRoot) || !files.FlushFolder(kPosFolder))
    throw TechnicianError("cannot make the folder " + name);
  return name + "\\";
}

void KeepLiveFiles(platform::WindowsFiles& files, const std::string& commandFolder,
                   const std::string& folder, const std::string& table,
                   const std::vector<std::string>& names, report::RepairRecord& record) {
  const std::string target = commandFolder + folder + "\\";
  if (!files.CreateDirectories(target) || !files.FlushFolder(target) ||
      !files.FlushFolder(commandFolder))
    throw TechnicianError("cannot make the folder " + target);
  for (const std::string& name : names) {
    const std::string live = repair::LiveFolder(folder) + name;
    if (!files.FileExists(live)) {
      repair::NoteKeptFile(record, name, "");
      continue;
    }
    const std::string copy = target + name;
    if (!files.LinkFile(live, copy) && !files.CopyFile(live, copy, true))
      throw TechnicianError(folder + "\\" + table + " is left as it is: " + live +
                            " could not be kept in " + target);
    repair::NoteKeptFile(record, name, copy);
  }
  files.FlushFolder(target);
  record.savedTo = target;
}

void ReplaceLiveFiles(platform::WindowsFiles& files, const std::string& folder,
                      const std::string& table, const std::map<std::string, std::string>& sources,
                      const std::string& mark) {
  using repair::kTableFileSet;
  const auto staged = [&](const std::string& extension) {
    return repair::LivePath(folder, ".zelcopy-" + mark + "-" + table, extension);
  };
  std::array<std::string, kTableFileSet.size()> stagedPaths;
  std::array<bool, kTableFileSet.size()> existed{}, removed{};
  std::string valSource;
  bool valTouched = false;
  std::vector<std::string> made;
  const auto cleanUp = [&] {
    for (const std::string& path : made) files.DeleteFile(path);
  };
  for (const auto& [name, source] : sources) {
    const std::string extension = AsciiUpper(Extension(table, name));
    const std::string live = repair::LivePath(folder, table, extension);
    if (extension == ".VAL") {
      valTouched = true;
      valSource = source;
    }
    std::size_t slot = kTableFileSet.size();
    for (std::size_t i = 0; i < kTableFileSet.size(); ++i)
      if (extension == kTableFileSet[i]) slot = i;
    if (slot == kTableFileSet.size() && extension != ".VAL")
      throw TechnicianError("unexpected file " + name + " for " + folder + "\\" + table);
    if (source.empty()) {
      if (slot < kTableFileSet.size()) existed[slot] = files.FileExists(live);
      continue;
    }
    const std::string to = staged(extension);
    if (!files.CopyFile(source, to, false)) {
      cleanUp();
      throw TechnicianError(folder + "\\" + table + " is left as it is: " + source +
                            " could not be copied in");
    }
    made.push_back(to);
    if (slot < kTableFileSet.size()) {
      stagedPaths[slot] = to;
      existed[slot] = files.FileExists(live);
    }
  }
  if (!files.FlushFolder(repair::LiveFolder(folder))) {
    cleanUp();
    throw TechnicianError(folder + "\\" + table + " is left as it is: its folder cannot be synced");
  }
  // The validity file goes with the indexes, before the data file.
  if (valTouched) {
    const std::string live = repair::LivePath(folder, table, ".VAL");
    const bool done = valSource.empty() ? !files.FileExists(live) || files.DeleteFile(live)
                                        : files.MoveFile(staged(".VAL"), live);
    if (!done) {
      cleanUp();
      throw TechnicianError(folder + "\\" + table + " is left as it is: " + live +
                            " could not be replaced");
    }
  }
  if (!repair::SwapInTableFiles(files, folder, table, stagedPaths, existed, removed))
    throw TechnicianError(folder + "\\" + table + " could not be replaced whole (a file is in " +
                          "use or the disk failed); run ZelUtil to mend its indexes");
}

}  // namespace zel::technician
