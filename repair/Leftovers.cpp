#include "repair/Leftovers.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/Catalogue.h"
#include "platform/DriveMapping.h"
#include "platform/FolderEntries.h"
#include "repair/TableFiles.h"

namespace zel::repair {
namespace fs = std::filesystem;
namespace {

constexpr const char* kKeptMark = ".zelold-";

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// Temporary files of this program: the writer's new files (".NAME.zeltmp-*") and scratch
// space (".zelspill-*"), copies on their way (".zelcopy-*", also a restore's staged files).
bool IsTemporaryName(const std::string& name) {
  return StartsWith(name, ".zelspill-") || StartsWith(name, ".zelcopy-") ||
         (StartsWith(name, ".") && name.find(".zeltmp-") != std::string::npos);
}

std::string Reason(int err) {
  return err == ELOOP ? std::string("a symbolic link, never followed")
                      : std::generic_category().message(err);
}

void Remove(const fs::path& folder, const std::string& name) {
  const fs::path file = folder / name;
  if (const int err = platform::RemoveRegularFile(folder, name); err == 0)
    TellTechnician("removed " + file.string() + ", left by an interrupted run");
  else if (err != ENOENT)
    TellTechnician("cannot remove " + file.string() + ", left by an interrupted run (" +
                   Reason(err) + ")");
}

// Only regular files are dealt with, each by its name in the folder itself: a link there (or
// in the folder's place) is never followed, removed through or renamed.
void ClearFolder(const fs::path& folder) {
  std::vector<std::string> temporary, kept;
  for (const platform::FolderEntry& entry : platform::RegularFilesIn(folder)) {
    if (!OriginalNameOfKeptFile(entry.name).empty())
      kept.push_back(entry.name);
    else if (IsTemporaryName(entry.name))
      temporary.push_back(entry.name);
  }
  for (const std::string& name : temporary) Remove(folder, name);
  for (const std::string& name : kept) {
    const std::string originalName = OriginalNameOfKeptFile(name);
    const fs::path original = folder / originalName;
    const fs::path file = folder / name;
    // Never replaces: a file (or anything else) that has the original name means the
    // replacement finished, and this was only its safety copy.
    const int err = platform::RenameRegularFile(folder, name, originalName);
    if (err == EEXIST)
      Remove(folder, name);
    else if (err != 0)
      TellTechnician("cannot put back " + original.string() + " from " + file.string() + " (" +
                     Reason(err) + ")");
    else
      TellTechnician("put back " + original.string() +
                     ", the only copy left by an interrupted run");
  }
}

}  // namespace

std::string OriginalNameOfKeptFile(const std::string& name) {
  // ".NAME.zelold-XXXXXX" with a non-empty NAME.
  const std::size_t mark = name.rfind(kKeptMark);
  if (!StartsWith(name, ".") || mark == std::string::npos || mark < 2) return "";
  return name.substr(1, mark - 1);
}

void ClearLeftovers() {
  std::vector<fs::path> folders;
  for (const std::string_view folder : catalogue::CheckOrder())
    folders.push_back(
        platform::MapWindowsPath(std::string(catalogue::kDataRoot) + std::string(folder)));
  // ZelUtil.Damaged holds one folder per run and one per data folder below it; a link in its
  // place or anywhere below it is never descended through.
  const fs::path damaged = platform::MapWindowsPath("C:\\ZelPos\\ZelUtil.Damaged");
  std::vector<fs::path> pending;
  if (!platform::IsSymbolicLink(damaged)) pending.push_back(damaged);
  while (!pending.empty()) {
    const fs::path folder = pending.back();
    pending.pop_back();
    folders.push_back(folder);
    for (const std::string& name : platform::FoldersIn(folder)) pending.push_back(folder / name);
  }
  for (const fs::path& folder : folders) ClearFolder(folder);
}

}  // namespace zel::repair
