#pragma once
// File plumbing for the table writer: buffered temporary files next to their target that are
// renamed into place only when every file of a table is complete, and an anonymous scratch
// file for records waiting to be sorted.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zel::engine::writer {

// Raises EngineError(WriteFailed) naming `file`, with the system's reason for `err`.
[[noreturn]] void ThrowIo(const std::string& what, const std::filesystem::path& file, int err);
// The same with the reason in words.
[[noreturn]] void ThrowIoReason(const std::string& what, const std::filesystem::path& file,
                                const std::string& reason);

// A file written under a unique hidden name in the target's folder. Removed on destruction
// unless it has been committed.
class TempFile {
 public:
  explicit TempFile(std::filesystem::path target);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Append(const void* data, std::size_t size);
  void AppendZeros(std::size_t size);
  // Writes at an absolute offset (flushing buffered appends first); used for headers whose
  // counts are known only at the end.
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  std::uint64_t Size() const noexcept { return flushed_ + buffer_.size(); }
  // Flushes, syncs and closes; the file is then ready to be renamed into place.
  void Finish();

  const std::filesystem::path& Target() const noexcept { return target_; }
  const std::filesystem::path& Path() const noexcept { return temp_; }

 private:
  friend void CommitFiles(std::vector<std::unique_ptr<TempFile>>&,
                          const std::vector<std::filesystem::path>&);
  void Flush();
  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::intptr_t fd_ = -1;  // os::Handle
  bool committed_ = false;
  std::uint64_t flushed_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// Renames every finished file onto its target, syncs the folder, then removes `stale` files
// (index files of the table that the new set does not have). All or nothing: when a step fails,
// the files already replaced or removed are put back before the error is raised.
void CommitFiles(std::vector<std::unique_ptr<TempFile>>& files,
                 const std::vector<std::filesystem::path>& stale);

// Test hook: make the commit's rename number `renames` + 1 fail (-1: never), to show that a
// commit failing part way restores the old files.
void FailRenamesAfter(int renames);
// Test hook: the memory the writer's key-order pass may use for records (0: the default), so
// tests can make it run in many windows.
void SetSortWindowBytes(std::size_t bytes);

// Scratch space for fixed-size records: an unlinked file in the given folder, read back with a
// window cache so that nearly sequential reads cost one system call per megabyte.
class SpillFile {
 public:
  SpillFile(const std::filesystem::path& folder, const std::filesystem::path& nameForErrors);
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  void Append(const void* data, std::size_t size);
  void Read(std::uint64_t offset, void* out, std::size_t size);
  std::uint64_t Size() const noexcept { return flushed_ + buffer_.size(); }

 private:
  void Flush();
  std::filesystem::path name_;
  std::intptr_t fd_ = -1;  // os::Handle
  std::uint64_t flushed_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::uint8_t> window_;
  std::uint64_t windowStart_ = 0;
  std::size_t windowSize_ = 0;
};

}  // namespace zel::engine::writer
