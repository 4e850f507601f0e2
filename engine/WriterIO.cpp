#include "engine/WriterIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/EngineError.h"

namespace zel::engine::writer {
namespace {

constexpr std::size_t kBufferSize = 1 << 20;

void WriteAll(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset,
              const std::filesystem::path& file) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowIo("Cannot write", file, errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
}

void SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) ThrowIo("Cannot open the folder to sync it", folder, errno);
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  // Some file systems cannot sync a directory; the renames are still in place.
  if (rc != 0 && err != EINVAL && err != EROFS) ThrowIo("Cannot sync the folder", folder, err);
}

}  // namespace

void ThrowIo(const std::string& what, const std::filesystem::path& file, int err) {
  throw EngineError(ErrorCode::WriteFailed, what + " (" + std::strerror(err) + ")", file.string());
}

TempFile::TempFile(std::filesystem::path target) : target_(std::move(target)) {
  std::string pattern =
      (target_.parent_path() / ("." + target_.filename().string() + ".zeltmp-XXXXXX")).string();
  fd_ = ::mkstemp(pattern.data());
  if (fd_ < 0) ThrowIo("Cannot create a temporary file beside", target_, errno);
  temp_ = pattern;
  ::fchmod(fd_, 0644);
  buffer_.reserve(kBufferSize);
}

TempFile::~TempFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void TempFile::Flush() {
  if (buffer_.empty()) return;
  WriteAll(fd_, buffer_.data(), buffer_.size(), flushed_, target_);
  flushed_ += buffer_.size();
  buffer_.clear();
}

void TempFile::Append(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + size > kBufferSize) Flush();
  if (size >= kBufferSize) {
    WriteAll(fd_, p, size, flushed_, target_);
    flushed_ += size;
    return;
  }
  buffer_.insert(buffer_.end(), p, p + size);
}

void TempFile::AppendZeros(std::size_t size) {
  const std::vector<std::uint8_t> zeros(size);
  Append(zeros.data(), zeros.size());
}

void TempFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  Flush();
  WriteAll(fd_, static_cast<const std::uint8_t*>(data), size, offset, target_);
  if (offset + size > flushed_) flushed_ = offset + size;
}

void TempFile::Finish() {
  Flush();
  if (::fsync(fd_) != 0) ThrowIo("Cannot sync", target_, errno);
  const int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) ThrowIo("Cannot close", target_, errno);
}

namespace {
int g_renamesBeforeFailure = -1;

std::filesystem::path BackupName(const std::filesystem::path& file) {
  std::string pattern =
      (file.parent_path() / ("." + file.filename().string() + ".zelold-XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) ThrowIo("Cannot make room to keep the old file", file, errno);
  ::close(fd);
  ::unlink(pattern.c_str());
  return pattern;
}

int Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (g_renamesBeforeFailure == 0) {
    errno = EIO;
    return -1;
  }
  if (g_renamesBeforeFailure > 0) --g_renamesBeforeFailure;
  return ::rename(from.c_str(), to.c_str());
}
}  // namespace

void FailRenamesAfter(int renames) {
  g_renamesBeforeFailure = renames;
}

void CommitFiles(std::vector<std::unique_ptr<TempFile>>& files,
                 const std::vector<std::filesystem::path>& stale) {
  for (auto& f : files)
    if (f->fd_ >= 0) f->Finish();
  // Every step keeps what it replaces, so a failure part way puts the old set back.
  struct Undo {
    std::filesystem::path current, original;  // rename current back to original
    bool remove = false;                      // or remove current (a new file)
  };
  std::vector<Undo> undo;
  std::vector<std::filesystem::path> backups;
  auto rollback = [&] {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
      if (it->remove)
        ::unlink(it->current.c_str());
      else
        ::rename(it->current.c_str(), it->original.c_str());
    }
    for (auto& f : files) f->committed_ = false;
  };
  try {
    for (const auto& s : stale) {
      const auto keep = BackupName(s);
      if (Rename(s, keep) != 0) ThrowIo("Cannot remove the old index file", s, errno);
      undo.push_back({keep, s});
      backups.push_back(keep);
    }
    for (auto& f : files) {
      std::error_code ec;
      const bool existed = std::filesystem::exists(std::filesystem::symlink_status(f->target_, ec));
      if (existed) {
        const auto keep = BackupName(f->target_);
        if (::link(f->target_.c_str(), keep.c_str()) != 0)
          ThrowIo("Cannot keep the old file while replacing it", f->target_, errno);
        backups.push_back(keep);
      }
      if (Rename(f->temp_, f->target_) != 0) {
        const int err = errno;
        if (existed) ::unlink(backups.back().c_str()), backups.pop_back();
        ThrowIo("Cannot move the new file into place", f->target_, err);
      }
      f->committed_ = true;
      if (existed)
        undo.push_back({backups.back(), f->target_});
      else
        undo.push_back({f->target_, {}, true});
    }
    if (!files.empty()) SyncFolder(files.front()->target_.parent_path());
  } catch (...) {
    rollback();
    for (const auto& b : backups) ::unlink(b.c_str());
    throw;
  }
  for (const auto& b : backups) ::unlink(b.c_str());
}

SpillFile::SpillFile(const std::filesystem::path& folder,
                     const std::filesystem::path& nameForErrors)
    : name_(nameForErrors) {
  std::string pattern = (folder / ".zelspill-XXXXXX").string();
  fd_ = ::mkstemp(pattern.data());
  if (fd_ < 0) ThrowIo("Cannot create scratch space beside", nameForErrors, errno);
  ::unlink(pattern.c_str());
  buffer_.reserve(kBufferSize);
}

SpillFile::~SpillFile() {
  if (fd_ >= 0) ::close(fd_);
}

void SpillFile::Flush() {
  if (buffer_.empty()) return;
  WriteAll(fd_, buffer_.data(), buffer_.size(), flushed_, name_);
  flushed_ += buffer_.size();
  buffer_.clear();
}

void SpillFile::Append(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + size > kBufferSize) Flush();
  buffer_.insert(buffer_.end(), p, p + size);
}

void SpillFile::Read(std::uint64_t offset, void* out, std::size_t size) {
  Flush();
  if (offset < windowStart_ || offset + size > windowStart_ + windowSize_) {
    window_.resize(std::max(kBufferSize, size));
    std::size_t got = 0;
    while (got < window_.size()) {
      const ssize_t n = ::pread(fd_, window_.data() + got, window_.size() - got,
                                static_cast<off_t>(offset + got));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowIo("Cannot read scratch space for", name_, errno);
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    windowStart_ = offset;
    windowSize_ = got;
    if (got < size) ThrowIo("Scratch space ended early for", name_, EIO);
  }
  std::memcpy(out, window_.data() + (offset - windowStart_), size);
}

}  // namespace zel::engine::writer
