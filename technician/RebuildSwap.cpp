#include "technician/RebuildSwap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "engine/Verifier.h"
#include "platform/AsciiCase.h"
#include "platform/FolderEntries.h"
#include "platform/posix/SmallFiles.h"

namespace zel::technician {
namespace fs = std::filesystem;
namespace {

using platform::AsciiUpper;

constexpr const char* kMarker = ".zelrebuild-swap";

[[noreturn]] void Fail(const std::string& what, const fs::path& file, int err) {
  throw std::runtime_error(what + " " + file.string() + ": " + std::strerror(err));
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) Fail("cannot open the folder to sync it:", folder, errno);
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  if (rc != 0 && err != EINVAL && err != EROFS) Fail("cannot sync the folder", folder, err);
}

bool IsDataFile(const std::string& name) {
  return AsciiUpper(fs::path(name).extension().string()) == ".DB";
}

// A file's identity: device and inode, as text; "" when it is not there.
std::string Identity(const fs::path& file) {
  struct stat st {};
  if (::lstat(file.c_str(), &st) != 0) return {};
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

struct Marker {
  std::string oldData, newData;  // identities of the old and the new data file
  std::vector<std::string> names;
};

Marker ReadMarker(const fs::path& staging) {
  std::istringstream in(platform::ReadSmallRegularFile(staging / kMarker, 1 << 16));
  Marker m;
  std::getline(in, m.oldData);
  std::getline(in, m.newData);
  std::vector<std::string>& names = m.names;
  for (std::string line; std::getline(in, line);) {
    // Only plain names of the staging folder: the marker is ours, but never trusted further.
    if (!line.empty() && line.find('/') == std::string::npos && line != "." && line != "..")
      names.push_back(line);
  }
  return m;
}

}  // namespace

void MarkSwapDue(const fs::path& db, const fs::path& staging,
                 const std::vector<std::string>& newFiles) {
  std::string text = Identity(db) + "\n";
  for (const std::string& name : newFiles)
    if (IsDataFile(name)) text += Identity(staging / name);
  text += "\n";
  for (const std::string& name : newFiles) text += name + "\n";
  std::string error;
  if (!platform::WriteFileAtomically(staging / kMarker, text, error))
    throw std::runtime_error(error);
  SyncFolder(staging);
}

bool SwapDue(const fs::path& staging) {
  std::error_code ec;
  return !platform::IsSymbolicLink(staging) && fs::is_directory(staging, ec) &&
         fs::is_regular_file(fs::symlink_status(staging / kMarker, ec));
}

void SwapStagedFiles(const fs::path& db, const fs::path& staging) {
  const fs::path folder = db.parent_path();
  const Marker marker = ReadMarker(staging);
  std::vector<std::string> names = marker.names;
  if (names.empty())
    throw std::runtime_error("the swap marker in " + staging.string() + " is empty");
  const std::string liveData = Identity(db);
  if (liveData != marker.oldData && liveData != marker.newData)
    throw std::runtime_error(db.string() + " was replaced since its rebuild was interrupted; the " +
                             "rebuilt files wait in " + staging.string());
  // The table's files as they are now, so that a new file takes the name (and case) of the old.
  const std::vector<fs::path> live = engine::ExistingTableFiles(db);
  auto target = [&](const std::string& name) {
    for (const fs::path& p : live)
      if (AsciiUpper(p.filename().string()) == AsciiUpper(name)) return p;
    return IsDataFile(name) ? db : folder / name;
  };
  std::stable_partition(names.begin(), names.end(),
                        [](const std::string& n) { return !IsDataFile(n); });
  auto move = [&](const std::string& name) {
    const fs::path from = staging / name;
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(from, ec))) return;  // moved before a crash
    if (::rename(from.c_str(), target(name).c_str()) != 0)
      Fail("cannot put the new file in place:", target(name), errno);
  };
  for (const std::string& name : names)
    if (!IsDataFile(name)) move(name);
  // Old index files with no new counterpart would pair with the new data file: they go (they
  // are kept with the other old files). The .VAL is the table's as it was.
  for (const fs::path& p : live) {
    const std::string upper = AsciiUpper(p.filename().string());
    const std::string ext = AsciiUpper(p.extension().string());
    if (ext == ".DB" || ext == ".VAL") continue;
    if (std::any_of(names.begin(), names.end(),
                    [&](const std::string& n) { return AsciiUpper(n) == upper; }))
      continue;
    if (::unlink(p.c_str()) != 0 && errno != ENOENT) Fail("cannot remove the old file", p, errno);
  }
  SyncFolder(folder);
  for (const std::string& name : names)
    if (IsDataFile(name)) move(name);
  SyncFolder(folder);
  std::error_code ec;
  fs::remove_all(staging, ec);
  if (ec) throw std::runtime_error("cannot remove " + staging.string() + ": " + ec.message());
  SyncFolder(folder);
}

}  // namespace zel::technician
