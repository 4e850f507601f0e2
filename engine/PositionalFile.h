#pragma once
// A file only read, by position: the verifier, the deep check and salvage read tables through
// it. It takes no lock, so closing it can never drop a lock this process holds on the same
// file, and it lets others read, write and delete the file meanwhile.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace zel::engine {

class PositionalFile {
 public:
  // Opens a regular file. Raises EngineError naming the file: "File does not exist", or
  // "Cannot read file (<reason>)".
  explicit PositionalFile(std::filesystem::path path);
  ~PositionalFile();
  PositionalFile(const PositionalFile&) = delete;
  PositionalFile& operator=(const PositionalFile&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string Name() const { return path_.string(); }
  std::uint64_t Size() const { return size_; }
  // Up to `len` bytes at `offset`; fewer only at the end of the file. Raises on an I/O error.
  std::size_t ReadAt(std::uint64_t offset, std::uint8_t* dst, std::size_t len) const;

 private:
  std::filesystem::path path_;
  std::intptr_t handle_ = -1;  // a file descriptor, or a Windows HANDLE
  std::uint64_t size_ = 0;
};

}  // namespace zel::engine
