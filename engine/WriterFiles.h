#pragma once
// The system calls under the table writer's files, one set for POSIX and one for Windows.
// Each raises EngineError(WriteFailed) naming the file, with the system's reason, unless it
// says otherwise.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace zel::engine::writer::os {

using Handle = std::intptr_t;  // a file descriptor, or a Windows HANDLE
inline constexpr Handle kNoHandle = -1;

// Creates a new file named after `stem` plus a unique suffix in `folder`, open for reading and
// writing; `path` gets its name. A scratch file is removed when closed (or at once on POSIX).
// Any other gets the permission bits of the file `nameForErrors` it is to replace, or those of a
// new file when there is none (POSIX).
Handle CreateUnique(const std::filesystem::path& folder, const std::string& stem,
                    std::filesystem::path& path, bool scratch, const std::string& what,
                    const std::filesystem::path& nameForErrors);
void WriteAt(Handle file, const std::uint8_t* data, std::size_t size, std::uint64_t offset,
             const std::filesystem::path& nameForErrors);
// Up to `size` bytes; fewer only at the end of the file.
std::size_t ReadAt(Handle file, std::uint8_t* data, std::size_t size, std::uint64_t offset,
                   const std::filesystem::path& nameForErrors);
// Asks the system to start writing the range to disk without waiting for it, so that the sync
// at the end finds most of a big file written already (a hint: nothing on Windows).
void StartWriteback(Handle file, std::uint64_t offset, std::size_t size) noexcept;
// Makes the data durable, then closes.
void SyncAndClose(Handle file, const std::filesystem::path& nameForErrors);
void Close(Handle file) noexcept;

// These report failure by their result and set `reason`.
bool Remove(const std::filesystem::path& file) noexcept;
// Replaces `to` in one step (write-through on Windows).
bool Rename(const std::filesystem::path& from, const std::filesystem::path& to,
            std::string& reason) noexcept;
// A second name for an existing file.
bool Link(const std::filesystem::path& from, const std::filesystem::path& to,
          std::string& reason) noexcept;
// Makes the renames in a folder durable where the system can (POSIX); Windows has no such
// call, its renames being written through.
void SyncFolder(const std::filesystem::path& folder);

}  // namespace zel::engine::writer::os
