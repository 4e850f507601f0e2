// One run at a time on Windows: a file in ZelUtil's folder opened without sharing and deleted
// when closed. Windows closes it when the process ends, however it ends, so a crashed run never
// blocks the next and nothing is left behind.
#include <windows.h>

#include <stdexcept>
#include <system_error>

#include "platform/RunLock.h"

namespace zel::platform {

namespace {

constexpr const char* kFolder = "C:\\ZelPos";
constexpr const char* kLockFile = "C:\\ZelPos\\ZelUtil.Run";

class Win32RunLock : public RunLock {
 public:
  Outcome Take() override {
    if (held_ != INVALID_HANDLE_VALUE) return Outcome::Taken;
    const DWORD attributes = GetFileAttributesA(kFolder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return Outcome::NoFolder;
    held_ = CreateFileA(kLockFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (held_ != INVALID_HANDLE_VALUE) return Outcome::Taken;
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
      return Outcome::HeldByOtherRun;
    throw std::runtime_error(std::string("Cannot lock ") + kFolder + " (" +
                             std::system_category().message(static_cast<int>(error)) + ")");
  }

 private:
  HANDLE held_ = INVALID_HANDLE_VALUE;  // kept for the process's life
};

}  // namespace

RunLock& HostRunLock() {
  static Win32RunLock lock;
  return lock;
}

}  // namespace zel::platform
