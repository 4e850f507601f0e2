// The folder walks on POSIX: every step relative to a descriptor of a folder opened with
// O_NOFOLLOW, so no link swapped in between a look and a change can redirect the change.
#include "platform/FolderEntries.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zel::platform {
namespace fs = std::filesystem;
namespace {

int OpenFolderNoLink(const fs::path& folder) {
  return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Calls `each(fd, name, stat)` for every entry of the folder, as it is (links not followed).
template <typename Each>
void ForEachEntry(const fs::path& folder, Each each) {
  const int fd = OpenFolderNoLink(folder);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) each(name, st);
  }
  ::closedir(dir);  // closes fd too
}

// The errno why `name` in the folder `fd` cannot be changed as a regular file, or 0.
int RegularFileCheck(int fd, const std::string& name) {
  struct stat st {};
  if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  return S_ISREG(st.st_mode) ? 0 : EINVAL;
}

}  // namespace

std::vector<FolderEntry> RegularFilesIn(const fs::path& folder) {
  std::vector<FolderEntry> entries;
  ForEachEntry(folder, [&](const std::string& name, const struct stat& st) {
    if (S_ISREG(st.st_mode))
      entries.push_back(
          {name, static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
  });
  return entries;
}

std::vector<std::string> FoldersIn(const fs::path& folder) {
  std::vector<std::string> names;
  ForEachEntry(folder, [&](const std::string& name, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) names.push_back(name);
  });
  return names;
}

bool IsSymbolicLink(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int RemoveRegularFile(const fs::path& folder, const std::string& name) {
  const int fd = OpenFolderNoLink(folder);
  if (fd < 0) return errno;
  int err = RegularFileCheck(fd, name);
  if (err == 0 && ::unlinkat(fd, name.c_str(), 0) != 0) err = errno;
  ::close(fd);
  return err;
}

int RenameRegularFile(const fs::path& folder, const std::string& from, const std::string& to) {
  const int fd = OpenFolderNoLink(folder);
  if (fd < 0) return errno;
  int err = RegularFileCheck(fd, from);
  if (err == 0) {
    // RENAME_NOREPLACE where the file system has it; else a look first (one run at a time).
    if (::renameat2(fd, from.c_str(), fd, to.c_str(), RENAME_NOREPLACE) != 0) {
      err = errno;
      struct stat st {};
      if (err == EINVAL || err == ENOSYS) {
        if (::fstatat(fd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
          err = EEXIST;
        else
          err = ::renameat(fd, from.c_str(), fd, to.c_str()) == 0 ? 0 : errno;
      }
    }
  }
  ::close(fd);
  return err;
}

}  // namespace zel::platform
