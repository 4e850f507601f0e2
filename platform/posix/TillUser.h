#pragma once
// The till's ordinary account: the owner of the Wine prefix. A run started as root (a technician
// over SSH, a systemd unit) does its file work with this account's rights, so that every file it
// makes belongs to the till user and nothing planted under drive C: reaches beyond what that
// user could do.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zel::platform {

struct TillUser {
  uid_t uid = 0;
  gid_t gid = 0;              // the passwd entry's group, else the prefix's group
  std::vector<gid_t> groups;  // every group the identity has, gid included
  std::string name;           // empty when the uid has no passwd entry
  std::string home;           // the passwd entry's home, else empty
  std::filesystem::path prefix;
};

// The owner of `prefix` (by lstat: a link is judged by its own owner) when this process runs as
// root and that owner is another user; none when the process is not root, the prefix is missing
// or root owns it.
std::optional<TillUser> TillUserOf(const std::filesystem::path& prefix);

// The owner of `folder` (lstat) when this process runs as root and the owner is another user.
std::optional<TillUser> OwnerOfFolder(const std::filesystem::path& folder);

// Leaves root for good: supplementary groups, then the group, then the user (real, effective
// and saved), and checks that no way back and no root group is left. False with the reason in
// `error` when any step failed; the process must then not go on with the work.
bool DropTo(const TillUser& user, std::string& error);

// "till (uid 1000, gid 1000, groups 1000 24)" for the line that says whose rights a run uses.
std::string DescribeIdentity(const TillUser& user);

}  // namespace zel::platform
