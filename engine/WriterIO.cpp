#include "engine/WriterIO.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/EngineError.h"
#include "engine/WriterFiles.h"

namespace zel::engine::writer {
namespace {

constexpr std::size_t kBufferSize = 1 << 20;

}  // namespace

void ThrowIo(const std::string& what, const std::filesystem::path& file, int err) {
  ThrowIoReason(what, file, std::strerror(err));
}

void ThrowIoReason(const std::string& what, const std::filesystem::path& file,
                   const std::string& reason) {
  throw EngineError(ErrorCode::WriteFailed, what + " (" + reason + ")", file.string());
}

TempFile::TempFile(std::filesystem::path target) : target_(std::move(target)) {
  fd_ = os::CreateUnique(target_.parent_path(), "." + target_.filename().string() + ".zeltmp",
                         temp_, false, "Cannot create a temporary file beside", target_);
  buffer_.reserve(kBufferSize);
}

TempFile::~TempFile() {
  os::Close(fd_);
  if (!committed_ && !temp_.empty()) os::Remove(temp_);
}

void TempFile::Flush() {
  if (buffer_.empty()) return;
  os::WriteAt(fd_, buffer_.data(), buffer_.size(), flushed_, target_);
  // The disk writes while the next buffer fills: the sync at the end then has little left.
  os::StartWriteback(fd_, flushed_, buffer_.size());
  flushed_ += buffer_.size();
  buffer_.clear();
}

void TempFile::Append(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + size > kBufferSize) Flush();
  if (size >= kBufferSize) {
    os::WriteAt(fd_, p, size, flushed_, target_);
    os::StartWriteback(fd_, flushed_, size);
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
  os::WriteAt(fd_, static_cast<const std::uint8_t*>(data), size, offset, target_);
  if (offset + size > flushed_) flushed_ = offset + size;
}

void TempFile::Finish() {
  Flush();
  const os::Handle file = fd_;
  fd_ = os::kNoHandle;
  os::SyncAndClose(file, target_);
}

namespace {
int g_renamesBeforeFailure = -1;

std::filesystem::path BackupName(const std::filesystem::path& file) {
  std::filesystem::path name;
  const os::Handle placeholder =
      os::CreateUnique(file.parent_path(), "." + file.filename().string() + ".zelold", name, false,
                       "Cannot make room to keep the old file", file);
  os::Close(placeholder);
  os::Remove(name);
  return name;
}

bool Rename(const std::filesystem::path& from, const std::filesystem::path& to,
            std::string& reason) {
  if (g_renamesBeforeFailure == 0) {
    reason = std::strerror(EIO);
    return false;
  }
  if (g_renamesBeforeFailure > 0) --g_renamesBeforeFailure;
  return os::Rename(from, to, reason);
}
}  // namespace

void FailRenamesAfter(int renames) {
  g_renamesBeforeFailure = renames;
}

void CommitFiles(std::vector<std::unique_ptr<TempFile>>& files,
                 const std::vector<std::filesystem::path>& stale) {
  for (auto& f : files)
    if (f->fd_ != os::kNoHandle) f->Finish();
  // Every step keeps what it replaces, so a failure part way puts the old set back.
  struct Undo {
    std::filesystem::path current, original;  // rename current back to original
    bool remove = false;                      // or remove current (a new file)
  };
  std::vector<Undo> undo;
  std::vector<std::filesystem::path> backups;
  auto rollback = [&] {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
      std::string ignored;
      if (it->remove)
        os::Remove(it->current);
      else
        os::Rename(it->current, it->original, ignored);
    }
    for (auto& f : files) f->committed_ = false;
  };
  try {
    for (const auto& s : stale) {
      const auto keep = BackupName(s);
      std::string reason;
      if (!Rename(s, keep, reason)) ThrowIoReason("Cannot remove the old index file", s, reason);
      undo.push_back({keep, s});
      backups.push_back(keep);
    }
    for (auto& f : files) {
      std::error_code ec;
      const bool existed = std::filesystem::exists(std::filesystem::symlink_status(f->target_, ec));
      if (existed) {
        const auto keep = BackupName(f->target_);
        std::string reason;
        if (!os::Link(f->target_, keep, reason))
          ThrowIoReason("Cannot keep the old file while replacing it", f->target_, reason);
        backups.push_back(keep);
      }
      if (std::string reason; !Rename(f->temp_, f->target_, reason)) {
        if (existed) os::Remove(backups.back()), backups.pop_back();
        ThrowIoReason("Cannot move the new file into place", f->target_, reason);
      }
      f->committed_ = true;
      if (existed)
        undo.push_back({backups.back(), f->target_});
      else
        undo.push_back({f->target_, {}, true});
    }
    if (!files.empty()) os::SyncFolder(files.front()->target_.parent_path());
  } catch (...) {
    rollback();
    for (const auto& b : backups) os::Remove(b);
    throw;
  }
  for (const auto& b : backups) os::Remove(b);
}

SpillFile::SpillFile(const std::filesystem::path& folder,
                     const std::filesystem::path& nameForErrors)
    : name_(nameForErrors) {
  std::filesystem::path scratch;
  fd_ = os::CreateUnique(folder, ".zelspill", scratch, true, "Cannot create scratch space beside",
                         nameForErrors);
  buffer_.reserve(kBufferSize);
}

SpillFile::~SpillFile() {
  os::Close(fd_);
}

void SpillFile::Flush() {
  if (buffer_.empty()) return;
  os::WriteAt(fd_, buffer_.data(), buffer_.size(), flushed_, name_);
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
    const std::size_t got = os::ReadAt(fd_, window_.data(), window_.size(), offset, name_);
    windowStart_ = offset;
    windowSize_ = got;
    if (got < size) ThrowIo("Scratch space ended early for", name_, EIO);
  }
  std::memcpy(out, window_.data() + (offset - windowStart_), size);
}

}  // namespace zel::engine::writer
