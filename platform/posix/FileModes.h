#pragma once
// The permission bits of the files and folders the program makes. A new file gets 0666 and a
// folder 0777, less the process's umask, as any program's would; a file that takes the place of
// another keeps that file's bits, so the till's own program can go on writing it. Never a
// set-user-ID, set-group-ID or sticky bit, whatever the file copied had.
#include <sys/types.h>

#include <filesystem>

namespace zel::platform {

mode_t NewFileMode();
mode_t NewFolderMode();
// The bits of the regular file at `replaced` (not followed when it is a link), or NewFileMode()
// when there is none.
mode_t ModeReplacing(const std::filesystem::path& replaced);

}  // namespace zel::platform
