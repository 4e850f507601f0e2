// Windows-like file operations on Windows itself: the named calls, on the paths as given.
#include <windows.h>
// windows.h names these as macros; here they are the interface's own functions.
#undef DeleteFile
#undef CopyFile
#undef MoveFile

#include <string>

#include "platform/WindowsFiles.h"

namespace zel::platform {

namespace {

// The folder part of a Windows path, without its last separator.
std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class Win32Files : public WindowsFiles {
 public:
  bool FileExists(const std::string& windowsPath) override {
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA(windowsPath.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  // A file another program has open without sharing its deletion is refused with a sharing
  // violation: Windows's own meaning of "in use".
  bool DeleteFile(const std::string& windowsPath) override {
    return ::DeleteFileA(windowsPath.c_str()) != 0;
  }
  bool DeleteSessionLockFile(const std::string& windowsPath) override {
    return ::DeleteFileA(windowsPath.c_str()) != 0;
  }
  void BeginDeletionBatch() override {}
  void EndDeletionBatch() override {}

  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override {
    if (failIfExists && ::GetFileAttributesA(to.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    // The copy is made beside the target and only then moved over it, so a copy that fails
    // halfway never leaves a half file where the target was.
    const std::string temporary = to + ".zelcopy";
    if (!::CopyFileA(from.c_str(), temporary.c_str(), FALSE)) {
      ::DeleteFileA(temporary.c_str());
      return false;
    }
    const HANDLE copy = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool flushed = copy != INVALID_HANDLE_VALUE && ::FlushFileBuffers(copy);
    if (copy != INVALID_HANDLE_VALUE) ::CloseHandle(copy);
    const DWORD replace = failIfExists ? 0 : MOVEFILE_REPLACE_EXISTING;
    if (!flushed ||
        !::MoveFileExA(temporary.c_str(), to.c_str(), replace | MOVEFILE_WRITE_THROUGH)) {
      ::DeleteFileA(temporary.c_str());
      return false;
    }
    return true;
  }

  int AppendToFile(const std::string& windowsPath, const std::string& bytes) override {
    const HANDLE file = ::CreateFileA(windowsPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    LARGE_INTEGER before{};
    ::GetFileSizeEx(file, &before);
    DWORD written = 0;
    int error = 0;
    if (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
      error = static_cast<int>(GetLastError());
    else if (written != bytes.size())
      error = ERROR_DISK_FULL;
    // The caller may power the PC off right after: the bytes must be on disk when this returns.
    else if (!::FlushFileBuffers(file))
      error = static_cast<int>(GetLastError());
    if (error != 0) {
      // The call adds its whole line or nothing.
      ::SetFilePointerEx(file, before, nullptr, FILE_BEGIN);
      ::SetEndOfFile(file);
    }
    ::CloseHandle(file);
    return error;
  }

  bool CreateDirectories(const std::string& windowsPath) override {
    if (IsFolder(windowsPath)) return true;
    const std::string parent = FolderOf(windowsPath);
    if (parent != windowsPath && parent.size() > 2 && !IsFolder(parent) &&
        !CreateDirectories(parent))
      return false;
    return ::CreateDirectoryA(windowsPath.c_str(), nullptr) || IsFolder(windowsPath);
  }

  bool LinkFile(const std::string& from, const std::string& to) override {
    if (!::CreateHardLinkA(to.c_str(), from.c_str(), nullptr)) return false;
    const HANDLE file = ::CreateFileA(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;  // the name is there; the data already was
    ::FlushFileBuffers(file);
    ::CloseHandle(file);
    return true;
  }

  bool MoveFile(const std::string& from, const std::string& to) override {
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  // NTFS has no call that syncs a folder; the renames and links above are written through.
  bool FlushFolder(const std::string& windowsFolder) override { return IsFolder(windowsFolder); }
};

}  // namespace

WindowsFiles& HostFiles() {
  static Win32Files files;
  return files;
}

}  // namespace zel::platform
