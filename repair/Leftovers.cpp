#include "repair/Leftovers.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/Catalogue.h"
#include "platform/DriveMapping.h"
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

void Remove(const fs::path& file) {
  std::error_code ec;
  if (fs::remove(file, ec)) {
    TellTechnician("removed " + file.string() + ", left by an interrupted run");
  } else if (ec) {
    TellTechnician("cannot remove " + file.string() + ", left by an interrupted run (" +
                   ec.message() + ")");
  }
}

void ClearFolder(const fs::path& folder) {
  std::error_code ec;
  std::vector<fs::path> temporary, kept;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    const std::string name = it->path().filename().string();
    if (!OriginalNameOfKeptFile(name).empty())
      kept.push_back(it->path());
    else if (IsTemporaryName(name))
      temporary.push_back(it->path());
  }
  for (const fs::path& file : temporary) Remove(file);
  for (const fs::path& file : kept) {
    const fs::path original = folder / OriginalNameOfKeptFile(file.filename().string());
    std::error_code existsEc;
    if (fs::exists(fs::symlink_status(original, existsEc))) {
      Remove(file);  // the replacement finished; this was only its safety copy
      continue;
    }
    // rename() never replaces here: the original name is free, checked just above.
    std::error_code renameEc;
    fs::rename(file, original, renameEc);
    if (renameEc)
      TellTechnician("cannot put back " + original.string() + " from " + file.string() + " (" +
                     renameEc.message() + ")");
    else
      TellTechnician("put back " + original.string() + ", the only copy left by an interrupted run");
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
    folders.push_back(platform::MapWindowsPath(std::string(catalogue::kDataRoot) +
                                               std::string(folder)));
  // ZelUtil.Damaged holds one folder per run and one per data folder below it.
  const fs::path damaged = platform::MapWindowsPath("C:\\ZelPos\\ZelUtil.Damaged");
  std::error_code ec;
  for (fs::recursive_directory_iterator it(damaged, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code typeEc;
    if (it->is_directory(typeEc) && !it->is_symlink(typeEc)) folders.push_back(it->path());
  }
  for (const fs::path& folder : folders) ClearFolder(folder);
}

}  // namespace zel::repair
