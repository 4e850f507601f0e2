#include "platform/posix/WorkAsTillUser.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "platform/posix/TillUser.h"

namespace zel::platform {
namespace {

void TakeIdentity(const TillUser& user) {
  // The prefix stays the one judged, whatever HOME says after the change.
  ::setenv("WINEPREFIX", user.prefix.c_str(), 1);
  if (!user.name.empty()) {
    ::setenv("HOME", user.home.c_str(), 1);
    ::setenv("USER", user.name.c_str(), 1);
    ::setenv("LOGNAME", user.name.c_str(), 1);
  }
  ::unsetenv("XDG_RUNTIME_DIR");  // root's; the till user can use none of it
}

std::filesystem::path NearestExisting(std::filesystem::path folder) {
  std::error_code ec;
  while (!folder.empty() && !std::filesystem::exists(std::filesystem::symlink_status(folder, ec)))
    folder = folder.has_relative_path() ? folder.parent_path() : std::filesystem::path();
  return folder;
}

}  // namespace

std::optional<int> WorkAsTillUser(const char* program,
                                  const std::vector<StationEntry>& stationFiles,
                                  const PrivilegedServices& services, int failureStatus) {
  const std::optional<TillUser> user = TillUserOf(WinePrefix());
  if (!user) return std::nullopt;
  const std::string who = DescribeIdentity(*user);

  for (const GivenBack& file :
       GiveBackRootFiles(user->prefix, stationFiles, user->uid, user->gid)) {
    if (file.given)
      std::cerr << program << ": gave " << EscapeText(file.path.string())
                << " back to the till user (it belonged to root)\n";
    else
      std::cerr << program << ": left " << EscapeText(file.path.string())
                << " to root: " << EscapeText(file.why) << "\n";
  }
  std::cerr.flush();
  std::fflush(nullptr);

  // Files named on root's command line outside the prefix stay root's to write; those inside it
  // are the till user's, like everything else there.
  PrivilegedServices broker = services;
  broker.rootOutputs.clear();
  std::error_code ec;
  const std::filesystem::path prefix = std::filesystem::weakly_canonical(user->prefix, ec);
  for (const std::filesystem::path& output : services.rootOutputs) {
    const std::filesystem::path where =
        std::filesystem::weakly_canonical(std::filesystem::absolute(output), ec);
    const auto [end, unused] =
        std::mismatch(prefix.begin(), prefix.end(), where.begin(), where.end());
    (void)unused;
    if (end != prefix.end()) broker.rootOutputs.push_back(output);
  }

  std::string error;
  if (const std::optional<int> parent = ForkPrivilegeBroker(broker, error)) {
    if (!error.empty()) {
      std::cerr << program << ": cannot start the work as " << who << ": " << error << "\n";
      return failureStatus;
    }
    return parent;
  }
  if (!DropTo(*user, error)) {
    std::cerr << program << ": cannot take the rights of " << who << ", the owner of "
              << EscapeText(user->prefix.string()) << ": " << error << "; nothing was done\n";
    return failureStatus;
  }
  TakeIdentity(*user);
  std::cerr << program << ": started as root; working on drive C: as " << who << ", the owner of "
            << EscapeText(user->prefix.string()) << "\n";
  return std::nullopt;
}

std::optional<int> WorkAsOwnerOf(const char* program, const std::filesystem::path& folder,
                                 int failureStatus) {
  const std::filesystem::path existing = NearestExisting(std::filesystem::absolute(folder));
  const std::optional<TillUser> owner = OwnerOfFolder(existing);
  if (!owner) return std::nullopt;
  std::string error;
  if (!DropTo(*owner, error)) {
    std::cerr << program << ": cannot take the rights of " << DescribeIdentity(*owner)
              << ", the owner of " << EscapeText(existing.string()) << ": " << error
              << "; nothing was done\n";
    return failureStatus;
  }
  std::cerr << program << ": started as root; writing as " << DescribeIdentity(*owner)
            << ", the owner of " << EscapeText(existing.string()) << "\n";
  return std::nullopt;
}

}  // namespace zel::platform
