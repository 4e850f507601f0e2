#pragma once
// The system calls under the run report's files, one set for POSIX and one for Windows. Each
// raises ReportError naming the file or folder, with the system's reason.
#include <ctime>
#include <filesystem>
#include <string>

namespace zel::report::files {

// The local time of `seconds`, and its offset from UTC in seconds.
std::tm LocalTime(std::time_t seconds, long& utcOffset);

// The document in a new temporary file beside `file` (its name marked kTemporaryMark), on disk.
std::filesystem::path WriteTemporary(const std::filesystem::path& file,
                                     const std::string& document);
// Puts `temporary` in the place of `file` in one step, replacing it; `temporary` is removed
// when that fails.
void Replace(const std::filesystem::path& temporary, const std::filesystem::path& file);
// Gives `temporary` the name `file` unless a file of that name exists (then false); removes
// `temporary` either way.
bool PublishNew(const std::filesystem::path& temporary, const std::filesystem::path& file);
// Makes the names in `folder` durable where the system can (POSIX); Windows writes renames
// through instead.
void SyncFolder(const std::filesystem::path& folder);
// Makes `folder` (its parent must exist) and its name durable; nothing when it exists. A link
// in its place is an error, as a file in the way is.
void MakeFolder(const std::filesystem::path& folder);

}  // namespace zel::report::files
