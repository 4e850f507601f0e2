#include "platform/posix/TillUser.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zel::platform {
namespace {

std::optional<TillUser> OtherOwner(const std::filesystem::path& path) {
  if (::geteuid() != 0) return std::nullopt;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || st.st_uid == 0) return std::nullopt;

  TillUser user;
  user.uid = st.st_uid;
  user.prefix = path;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(st.st_uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
    user.name = found->pw_name;
    user.home = found->pw_dir ? found->pw_dir : "";
    user.gid = found->pw_gid;
    // The groups the account has by the group database (initgroups' list).
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &count) < 0)
      groups.resize(static_cast<std::size_t>(count) + 16), count = static_cast<int>(groups.size());
    groups.resize(static_cast<std::size_t>(count));
    user.groups = groups;
  } else {
    // No account: only the prefix's group, never one of root's.
    user.gid = st.st_gid;
    user.groups = {st.st_gid};
  }
  if (std::find(user.groups.begin(), user.groups.end(), user.gid) == user.groups.end())
    user.groups.insert(user.groups.begin(), user.gid);
  return user;
}

std::string Errno(const char* step) {
  return std::string(step) + ": " + std::strerror(errno);
}

}  // namespace

std::optional<TillUser> TillUserOf(const std::filesystem::path& prefix) {
  return OtherOwner(prefix);
}

std::optional<TillUser> OwnerOfFolder(const std::filesystem::path& folder) {
  return OtherOwner(folder);
}

bool DropTo(const TillUser& user, std::string& error) {
  if (::setgroups(user.groups.size(), user.groups.data()) != 0) {
    error = Errno("setgroups");
    return false;
  }
  if (::setresgid(user.gid, user.gid, user.gid) != 0) {
    error = Errno("setresgid");
    return false;
  }
  if (::setresuid(user.uid, user.uid, user.uid) != 0) {
    error = Errno("setresuid");
    return false;
  }
  // Trust nothing: read the identity back.
  uid_t ruid, euid, suid;
  gid_t rgid, egid, sgid;
  if (::getresuid(&ruid, &euid, &suid) != 0 || ruid != user.uid || euid != user.uid ||
      suid != user.uid || ::getresgid(&rgid, &egid, &sgid) != 0 || rgid != user.gid ||
      egid != user.gid || sgid != user.gid) {
    error = "the user and group ids did not change as asked";
    return false;
  }
  const int count = ::getgroups(0, nullptr);
  std::vector<gid_t> now(static_cast<std::size_t>(std::max(count, 0)));
  if (count < 0 || ::getgroups(count, now.data()) != count) {
    error = Errno("getgroups");
    return false;
  }
  for (const gid_t group : now) {
    if (std::find(user.groups.begin(), user.groups.end(), group) == user.groups.end()) {
      error = "group " + std::to_string(group) + " is still held";
      return false;
    }
  }
  if (::setuid(0) == 0 || ::geteuid() == 0) {
    error = "root could be taken back";
    return false;
  }
  return true;
}

std::string DescribeIdentity(const TillUser& user) {
  std::string text = (user.name.empty() ? "uid " + std::to_string(user.uid) : user.name) +
                     " (uid " + std::to_string(user.uid) + ", gid " + std::to_string(user.gid) +
                     ", groups";
  for (const gid_t group : user.groups) text += " " + std::to_string(group);
  return text + ")";
}

}  // namespace zel::platform
