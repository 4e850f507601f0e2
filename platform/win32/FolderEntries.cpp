// The folder walks on Windows, through std::filesystem: links are looked at and left alone.
#include "platform/FolderEntries.h"

#include <cerrno>
#include <system_error>

namespace zel::platform {
namespace fs = std::filesystem;

bool IsSymbolicLink(const fs::path& path) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(path, ec));
}

std::vector<FolderEntry> RegularFilesIn(const fs::path& folder) {
  std::vector<FolderEntry> entries;
  std::error_code ec;
  if (IsSymbolicLink(folder)) return entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryEc;
    if (it->is_symlink(entryEc) || !it->is_regular_file(entryEc)) continue;
    const auto time = it->last_write_time(entryEc);
    if (entryEc) continue;
    entries.push_back({it->path().filename().string(),
                       static_cast<std::int64_t>(time.time_since_epoch().count())});
  }
  return entries;
}

std::vector<std::string> FoldersIn(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  if (IsSymbolicLink(folder)) return names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryEc;
    if (it->is_symlink(entryEc) || !it->is_directory(entryEc)) continue;
    names.push_back(it->path().filename().string());
  }
  return names;
}

namespace {

int RegularFileCheck(const fs::path& folder, const fs::path& file) {
  if (IsSymbolicLink(folder)) return ELOOP;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(file, ec);
  if (ec || !fs::exists(status)) return ENOENT;
  if (fs::is_symlink(status)) return ELOOP;
  return fs::is_regular_file(status) ? 0 : EINVAL;
}

}  // namespace

int RemoveRegularFile(const fs::path& folder, const std::string& name) {
  if (const int err = RegularFileCheck(folder, folder / name); err != 0) return err;
  std::error_code ec;
  fs::remove(folder / name, ec);
  return ec ? (ec.value() != 0 ? EACCES : 0) : 0;
}

int RenameRegularFile(const fs::path& folder, const std::string& from, const std::string& to) {
  if (const int err = RegularFileCheck(folder, folder / from); err != 0) return err;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(folder / to, ec))) return EEXIST;
  fs::rename(folder / from, folder / to, ec);
  return ec ? EACCES : 0;
}

}  // namespace zel::platform
