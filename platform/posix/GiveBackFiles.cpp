#include "platform/posix/GiveBackFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/DriveMapping.h"

namespace zel::platform {
namespace {

constexpr int kDeepest = 16;  // a station's folders are a few levels deep; a deeper tree is odd

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

// A folder opened for reading its entries, never through a link.
Fd OpenFolderAt(int at, const char* name) {
  return Fd(::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The names in folder `at`, but "." and "..".
std::vector<std::string> ListFolder(int at) {
  std::vector<std::string> names;
  const int fd = ::openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return names;
  DIR* folder = ::fdopendir(fd);
  if (!folder) {
    ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(folder);  // closes fd as well
  return names;
}

// The entry of folder `at` named `name`, exactly or else without regard to case.
std::optional<std::string> FindEntry(int at, const std::string& name) {
  struct stat st {};
  if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
  for (const std::string& entry : ListFolder(at))
    if (SameNameIgnoringCase(entry, name)) return entry;
  return std::nullopt;
}

struct Walker {
  uid_t uid;
  gid_t gid;
  std::vector<GivenBack>& out;

  // Gives back the entry `name` of folder `at` (shown as `path`), and its contents when asked.
  void Entry(int at, const std::string& name, const std::filesystem::path& path, bool withContents,
             dev_t device, int depth) {
    // O_PATH: the checks and the change below act on this very inode, whatever the name points
    // at by the time they run.
    Fd node(::openat(at, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!node.ok()) return;
    struct stat st {};
    if (::fstat(node.get(), &st) != 0 || S_ISLNK(st.st_mode)) return;
    const bool file = S_ISREG(st.st_mode);
    const bool folder = S_ISDIR(st.st_mode);
    if (st.st_uid == 0 && (file || folder)) {
      if (file && st.st_nlink > 1) {
        out.push_back({path, false, "it has other links, so it may be a file from elsewhere"});
      } else if (::fchownat(node.get(), "", uid, gid, AT_EMPTY_PATH) == 0) {
        out.push_back({path, true, {}});
      } else {
        out.push_back({path, false, std::strerror(errno)});
      }
    }
    if (!folder || !withContents || depth >= kDeepest || st.st_dev != device) return;
    Fd contents = OpenFolderAt(node.get(), ".");
    if (!contents.ok()) return;
    const std::vector<std::string> names = ListFolder(contents.get());
    for (const std::string& child : names)
      Entry(contents.get(), child, path / child, true, device, depth + 1);
  }
};

}  // namespace

std::vector<GivenBack> GiveBackRootFiles(const std::filesystem::path& prefix,
                                         const std::vector<StationEntry>& entries, uid_t uid,
                                         gid_t gid) {
  std::vector<GivenBack> out;
  Fd prefixFolder(::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!prefixFolder.ok()) return out;
  Fd driveC = OpenFolderAt(prefixFolder.get(), "drive_c");
  if (!driveC.ok()) return out;
  struct stat driveStat {};
  if (::fstat(driveC.get(), &driveStat) != 0) return out;

  Walker walker{uid, gid, out};
  for (const StationEntry& entry : entries) {
    // Folder by folder down to the entry's parent, each opened without following a link.
    std::vector<std::string> parts;
    std::string part;
    for (const char c : entry.path) {
      if (c == '\\' || c == '/') {
        if (!part.empty()) parts.push_back(part);
        part.clear();
      } else {
        part += c;
      }
    }
    if (!part.empty()) parts.push_back(part);
    if (parts.empty()) continue;

    Fd at = OpenFolderAt(driveC.get(), ".");
    std::filesystem::path path = prefix / "drive_c";
    bool reached = at.ok();
    for (std::size_t i = 0; reached && i + 1 < parts.size(); ++i) {
      const auto name = FindEntry(at.get(), parts[i]);
      if (!name) {
        reached = false;
        break;
      }
      Fd next = OpenFolderAt(at.get(), name->c_str());
      reached = next.ok();
      at = std::move(next);
      path /= *name;
    }
    if (!reached) continue;
    const auto last = FindEntry(at.get(), parts.back());
    if (!last) continue;
    walker.Entry(at.get(), *last, path / *last, entry.withContents, driveStat.st_dev, 0);
  }
  return out;
}

}  // namespace zel::platform
