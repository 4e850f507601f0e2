#pragma once
// Whether another live process holds a lock on a file. Windows refuses to delete or share a file
// in use; on Linux the programs that matter (the engine here, ZelPos's engine under Wine) take
// fcntl locks on the files they use, so a lock held by another process means "in use".
#include <filesystem>

namespace zel::platform {

// True when a process other than this one holds an fcntl lock (classic or open-file-description)
// on any byte of the file. False when the file is free, missing or unreadable. Never takes a lock
// itself, and never closes a descriptor of the file that this process may hold locks through.
bool IsLockedByOtherProcess(const std::filesystem::path& file);

}  // namespace zel::platform
