#pragma once
// Small files a program reads or replaces whole (metrics, reports named on the command line),
// safely in folders someone else may write: nothing blocks on a FIFO, nothing is written
// through a link.
#include <cstddef>
#include <filesystem>
#include <string>

namespace zel::platform {

// The content of `file` when it is a regular file of at most `limit` bytes that this process
// can read; "" otherwise. Never waits on a FIFO or a device.
std::string ReadSmallRegularFile(const std::filesystem::path& file, std::size_t limit);

// Puts `bytes` in `file` in one step: a new temporary file in the same folder, synced, renamed
// over `file` (a link at that name is replaced, never followed), the folder synced. False with
// the reason, naming the file, in `error`.
bool WriteFileAtomically(const std::filesystem::path& file, const std::string& bytes,
                         std::string& error);

}  // namespace zel::platform
