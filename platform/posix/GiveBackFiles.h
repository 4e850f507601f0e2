#pragma once
// Earlier runs started as root left root-owned files in a till's station (new tables, the log,
// reports, kept damaged files). The till user's programs cannot write them, and a run that works
// with that user's rights could not append to its own log. Run as root, before leaving root,
// this gives each such file and folder back to the till user.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace zel::platform {

struct GivenBack {
  std::filesystem::path path;
  bool given = false;  // false: left as it is, for `why`
  std::string why;
};

struct StationEntry {
  std::string path;          // relative to drive C:, "ZelPos\\ZelUtil.Log"
  bool withContents = true;  // for a folder: everything below it as well
};

// Under the drive C: folder of `prefix`, the entries (components matched without regard to
// case): every regular file or folder owned by root becomes owned by `uid` and `gid`. Never follows
// a link, on the way there or below; a regular file with more than one link is left as it is (it
// may be a root file linked in from elsewhere). Returns what it gave back or left, in walk order.
std::vector<GivenBack> GiveBackRootFiles(const std::filesystem::path& prefix,
                                         const std::vector<StationEntry>& entries, uid_t uid,
                                         gid_t gid);

}  // namespace zel::platform
