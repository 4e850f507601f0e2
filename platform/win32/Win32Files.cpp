// Windows-like file operations on Windows itself: the named calls, on the paths as given. Each
// call that fails leaves the Windows error of the step that failed in GetLastError, so a caller
// can tell why.
#include <windows.h>
// windows.h names these as macros; here they are the interface's own functions.
#undef DeleteFile
#undef CopyFile
#undef MoveFile

#include <string>

#include "platform/WindowsFiles.h"

namespace zel::platform {

namespace {

// The folder part of a Windows path, without its last separator; empty when it has none.
std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// True for "C:", "C:\", "\" and "\\server\share": a folder CreateDirectoryA cannot make.
bool IsRoot(const std::string& path) {
  if (path.empty() || path == "\\" || path == "/") return true;
  if (path.size() <= 3 && path[1] == ':') return true;
  if (path.rfind("\\\\", 0) == 0) {
    const auto share = path.find_first_of("\\/", 2);
    return share == std::string::npos || path.find_first_of("\\/", share + 1) == std::string::npos;
  }
  return false;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Returns false with `error` as the thread's last error, after clean-up calls that may have
// replaced it.
bool FailWith(DWORD error) {
  ::SetLastError(error);
  return false;
}

// Writes a file's data and metadata to disk. FlushFileBuffers needs a handle with write access;
// a read-only file's attribute is lifted for that moment and put back.
bool FlushFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly && !::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    return false;
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = ERROR_SUCCESS;
  if (file == INVALID_HANDLE_VALUE) {
    error = ::GetLastError();
  } else {
    if (!::FlushFileBuffers(file)) error = ::GetLastError();
    ::CloseHandle(file);
  }
  if (readOnly) ::SetFileAttributesA(path.c_str(), attributes);
  return error == ERROR_SUCCESS || FailWith(error);
}

// Removes a file the call itself made, read-only or not.
void RemoveOwnFile(const std::string& path) {
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileA(path.c_str());
}

class Win32Files : public WindowsFiles {
 public:
  // FindFirstFileA, as the original looks for a file: a folder of the name is no file.
  bool FileExists(const std::string& windowsPath) override {
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA(windowsPath.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  // A file another program has open without sharing its deletion is refused with a sharing
  // violation: Windows's own meaning of "in use". Windows answers that at once, so deletion
  // batches have nothing to share.
  bool DeleteFile(const std::string& windowsPath) override {
    return ::DeleteFileA(windowsPath.c_str()) != 0;
  }
  bool DeleteSessionLockFile(const std::string& windowsPath) override {
    return ::DeleteFileA(windowsPath.c_str()) != 0;
  }
  void BeginDeletionBatch() override {}
  void EndDeletionBatch() override {}

  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override {
    if (failIfExists && ::GetFileAttributesA(to.c_str()) != INVALID_FILE_ATTRIBUTES)
      return FailWith(ERROR_FILE_EXISTS);
    // The copy is made beside the target, flushed, and only then moved over it, so a copy that
    // fails halfway never leaves a half file where the target was.
    const std::string temporary = TemporaryNameBeside(to);
    if (temporary.empty()) return false;
    if (!::CopyFileA(from.c_str(), temporary.c_str(), FALSE) || !FlushFile(temporary)) {
      const DWORD error = ::GetLastError();
      RemoveOwnFile(temporary);
      return FailWith(error);
    }
    const DWORD replace = failIfExists ? 0 : MOVEFILE_REPLACE_EXISTING;
    if (!::MoveFileExA(temporary.c_str(), to.c_str(), replace | MOVEFILE_WRITE_THROUGH)) {
      const DWORD error = ::GetLastError();
      RemoveOwnFile(temporary);
      return FailWith(error);
    }
    return true;
  }

  int AppendToFile(const std::string& windowsPath, const std::string& bytes) override {
    // Write access (not only appending) so that a failed append can be cut back; others may
    // read the file meanwhile, never write it.
    const HANDLE file =
        ::CreateFileA(windowsPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    LARGE_INTEGER before{};
    if (!::GetFileSizeEx(file, &before) ||
        !::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_END)) {
      const DWORD error = ::GetLastError();
      ::CloseHandle(file);
      return static_cast<int>(error);
    }
    // A last line a power cut tore is ended first, so the new line starts a line of its own.
    std::string text = bytes;
    if (before.QuadPart > 0 && text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
      char last = 0;
      DWORD got = 0;
      LARGE_INTEGER lastByte{};
      lastByte.QuadPart = before.QuadPart - 1;
      if (::SetFilePointerEx(file, lastByte, nullptr, FILE_BEGIN) &&
          ::ReadFile(file, &last, 1, &got, nullptr) && got == 1 && last != '\n')
        text = "\r\n" + text;
      ::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_END);
    }
    DWORD written = 0;
    DWORD error = ERROR_SUCCESS;
    if (text.size() > MAXDWORD)
      error = ERROR_INVALID_PARAMETER;
    else if (!::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
      error = ::GetLastError();
    else if (written != text.size())
      error = ERROR_DISK_FULL;
    // The caller may power the PC off right after: the bytes must be on disk when this returns.
    // NTFS journals a new file's name with it.
    else if (!::FlushFileBuffers(file))
      error = ::GetLastError();
    if (error != ERROR_SUCCESS) {
      // The call adds its whole line or nothing.
      ::SetFilePointerEx(file, before, nullptr, FILE_BEGIN);
      ::SetEndOfFile(file);
    }
    ::CloseHandle(file);
    return static_cast<int>(error);
  }

  // ForceDirectories: each missing folder from the top down.
  bool CreateDirectories(const std::string& windowsPath) override {
    if (IsFolder(windowsPath)) return true;
    if (IsRoot(windowsPath)) return false;
    const std::string parent = FolderOf(windowsPath);
    if (!parent.empty() && !IsRoot(parent) && !IsFolder(parent) && !CreateDirectories(parent))
      return false;
    return ::CreateDirectoryA(windowsPath.c_str(), nullptr) || IsFolder(windowsPath);
  }

  // The data is flushed before the second name is made, and the file (whose names NTFS keeps
  // in its own record) after: the caller may delete the first name and power off.
  bool LinkFile(const std::string& from, const std::string& to) override {
    if (!IsFile(from)) return FailWith(ERROR_FILE_NOT_FOUND);
    if (!FlushFile(from)) return false;
    if (!::CreateHardLinkA(to.c_str(), from.c_str(), nullptr)) return false;
    if (!FlushFile(to)) {
      const DWORD error = ::GetLastError();
      ::DeleteFileA(to.c_str());
      return FailWith(error);
    }
    return true;
  }

  // Files only: MoveFileExA would move a whole folder too.
  bool MoveFile(const std::string& from, const std::string& to) override {
    if (!IsFile(from)) return FailWith(ERROR_FILE_NOT_FOUND);
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  // Windows has no documented way to sync a folder. The renames above are written through and
  // NTFS journals the folder's entries; a flush of the folder's handle is tried all the same,
  // where the file system takes it. True when the folder exists.
  bool FlushFolder(const std::string& windowsFolder) override {
    if (!IsFolder(windowsFolder)) return FailWith(ERROR_PATH_NOT_FOUND);
    const HANDLE folder =
        ::CreateFileA(windowsFolder.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder != INVALID_HANDLE_VALUE) {
      ::FlushFileBuffers(folder);
      ::CloseHandle(folder);
    }
    return true;
  }

 private:
  // A name of its own in the target's folder for each copy, reserved by creating it, so that
  // two copies never meet. ".zelcopy-": a copy cut short by a power cut is a leftover the next
  // run removes.
  static std::string TemporaryNameBeside(const std::string& target) {
    const std::string folder = FolderOf(target);
    const std::string prefix = (folder.empty() ? std::string() : folder + "\\") + ".zelcopy-";
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned long long counter = 0;
    unsigned long long seed = ::GetTickCount64() * 1000003ULL + ::GetCurrentProcessId();
    for (int attempt = 0; attempt < 100; ++attempt) {
      unsigned long long value = seed + ++counter * 0x9E3779B97F4A7C15ULL;
      std::string name = prefix;
      for (int i = 0; i < 6; ++i, value /= 36) name += kLetters[value % 36];
      const HANDLE made = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
      if (made != INVALID_HANDLE_VALUE) {
        ::CloseHandle(made);
        return name;
      }
      if (::GetLastError() != ERROR_FILE_EXISTS) return {};
    }
    return {};
  }
};

}  // namespace

WindowsFiles& HostFiles() {
  static Win32Files files;
  return files;
}

}  // namespace zel::platform
