// Which program holds a file, on Windows. Windows answers "in use" itself, by a sharing
// violation when the file is opened without sharing; it does not say by whom here, so a holder
// is reported as one that cannot be named.
#include <windows.h>

#include "platform/posix/FileHolders.h"
#include "platform/posix/FileLockProbe.h"

namespace zel::platform {

namespace {

bool SharingViolation(const std::filesystem::path& file) {
  const HANDLE probe = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

bool IsLockedByOtherProcess(const std::filesystem::path& file) {
  return SharingViolation(file);
}

void ForEachOpenFile(const std::function<void(long, unsigned long long, unsigned long long)>&) {}

OpenFilesSnapshot OpenFilesSnapshot::Take() {
  return {};
}

// Windows tells an open file by the same sharing violation IsLockedByOtherProcess looks for.
bool OpenFilesSnapshot::IsOpen(const std::filesystem::path&) const {
  return false;
}

std::size_t OpenFilesScanCount() {
  return 0;
}

bool IsWineserver(long) {
  return false;
}

FileHolders FileHolders::Take() {
  return {};
}

std::optional<FileHolder> FileHolders::HolderOf(const std::filesystem::path&) const {
  return std::nullopt;
}

std::string ProcessCommand(long) {
  return {};
}

}  // namespace zel::platform
