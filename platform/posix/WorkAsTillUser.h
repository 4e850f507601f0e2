#pragma once
// What a program does first when root starts it over a till's Wine prefix: it gives back to the
// till user the files earlier root runs left, then goes on with that user's rights in a child
// process, while the parent keeps root only for the power-off request and /proc (see
// PrivilegeBroker.h).
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/GiveBackFiles.h"
#include "platform/posix/PrivilegeBroker.h"

namespace zel::platform {

// When this process runs as root and the Wine prefix belongs to another user: gives back the
// root-owned `stationFiles`, forks the broker and leaves root in the child, naming on stderr
// (once, prefixed by `program`) the identity the work goes on with. Returns nullopt where the
// program goes on (not root, root's own prefix, or the child); in the parent, the child's exit
// status; `failureStatus` when the identity could not be taken (the work must not go on as
// root over another user's files).
std::optional<int> WorkAsTillUser(const char* program,
                                  const std::vector<StationEntry>& stationFiles,
                                  const PrivilegedServices& services, int failureStatus);

// For a tool that writes into `folder` (or the nearest folder above it that exists): when this
// process runs as root and that folder belongs to another user, leaves root for that user's
// rights for good, with no broker. Nullopt to go on; `failureStatus` when it could not.
std::optional<int> WorkAsOwnerOf(const char* program, const std::filesystem::path& folder,
                                 int failureStatus);

}  // namespace zel::platform
