#pragma once
// The program's own folders (the reports, the damaged files, the data folders' leftovers)
// walked and cleaned without ever following a symbolic link: a link in a folder's place or in
// it is never descended through, and nothing is removed or renamed through one.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zel::platform {

struct FolderEntry {
  std::string name;
  std::int64_t modified = 0;  // comparable within one folder
};

// The regular files in `folder` (links left out); none when `folder` itself is a link or cannot
// be read.
std::vector<FolderEntry> RegularFilesIn(const std::filesystem::path& folder);
// The names of the real folders in `folder` (links left out); none when `folder` is a link.
std::vector<std::string> FoldersIn(const std::filesystem::path& folder);
// True when `path` itself (not what it may point at) is a symbolic link.
bool IsSymbolicLink(const std::filesystem::path& path);

// Removes the regular file `name` from `folder`, never a link and never through one; 0, or the
// errno (ELOOP: a link where the folder or the file should be; EINVAL: not a regular file).
int RemoveRegularFile(const std::filesystem::path& folder, const std::string& name);
// Renames the regular file `from` in `folder` to `to` in the same folder, never replacing an
// existing `to`; 0 or the errno, as RemoveRegularFile.
int RenameRegularFile(const std::filesystem::path& folder, const std::string& from,
                      const std::string& to);

}  // namespace zel::platform
