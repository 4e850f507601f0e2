// One run at a time on Windows: a file in ZelUtil's folder opened without sharing and deleted
// when closed. Windows closes it when the process ends, however it ends, so a crashed run never
// blocks the next and nothing is left behind.
#include <windows.h>

#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/RunLock.h"

namespace zel::platform {

namespace {

constexpr const char* kFolder = "C:\\ZelPos";
constexpr const char* kLockFile = "C:\\ZelPos\\ZelUtil.Run";

std::string WindowsMessage(DWORD error) {
  std::string text = std::system_category().message(static_cast<int>(error));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
    text.pop_back();
  return text;
}

class Win32RunLock : public RunLock {
 public:
  Outcome Take() override {
    if (held_ != INVALID_HANDLE_VALUE) return Outcome::Taken;
    const DWORD attributes = GetFileAttributesA(kFolder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return Outcome::NoFolder;
    // A run that has just ended may leave its file waiting for deletion for a moment: opening
    // it is refused (access denied) until it is gone, so that refusal is waited out briefly.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 40; ++attempt) {
      held_ = CreateFileA(kLockFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (held_ != INVALID_HANDLE_VALUE) return Outcome::Taken;
      error = GetLastError();
      if (error != ERROR_ACCESS_DENIED) break;
      Sleep(25);
    }
    if (error == ERROR_SHARING_VIOLATION) return Outcome::HeldByOtherRun;
    // Anything else (a folder ZelUtil may not write in, a read-only or foreign file of the
    // name) is no other run: said as it is, rather than as "already running".
    throw std::runtime_error(std::string("Cannot lock ") + kFolder + " against a second run: " +
                             kLockFile + " cannot be opened (" + WindowsMessage(error) + ")");
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
