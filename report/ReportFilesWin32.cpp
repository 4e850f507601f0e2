// The run report's system calls on Windows: each file is flushed before it is named, and the
// rename is written through, which stands in for POSIX's sync of the folder.
#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <system_error>

#include "report/ReportFiles.h"
#include "report/ReportWriter.h"

namespace zel::report::files {
namespace fs = std::filesystem;

namespace {

std::string LastError() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

[[noreturn]] void WriteFailed(const fs::path& file, const std::string& reason) {
  throw ReportError("cannot write the run report " + file.string() + ": " + reason);
}

}  // namespace

std::tm LocalTime(std::time_t seconds, long& utcOffset) {
  std::tm local{};
  localtime_s(&local, &seconds);
  std::tm asUtc = local;
  utcOffset = static_cast<long>(_mkgmtime(&asUtc) - seconds);
  return local;
}

fs::path WriteTemporary(const fs::path& file, const std::string& document) {
  static std::atomic<unsigned> counter{0};
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path temporary =
        folder / ("." + file.filename().string() + kTemporaryMark +
                  std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
    const HANDLE out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      WriteFailed(file, LastError());
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(out, document.data(), static_cast<DWORD>(document.size()), &written, nullptr) &&
        written == document.size() && FlushFileBuffers(out);
    const std::string reason = ok ? std::string() : LastError();
    CloseHandle(out);
    if (!ok) {
      DeleteFileW(temporary.c_str());
      WriteFailed(file, reason);
    }
    return temporary;
  }
  WriteFailed(file, "no free temporary name");
}

void Replace(const fs::path& temporary, const fs::path& file) {
  if (!MoveFileExW(temporary.c_str(), file.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const std::string reason = LastError();
    DeleteFileW(temporary.c_str());
    WriteFailed(file, reason);
  }
}

bool PublishNew(const fs::path& temporary, const fs::path& file) {
  // Without the replace flag the move never takes a name that is in use.
  if (MoveFileExW(temporary.c_str(), file.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD error = GetLastError();
  const std::string reason = LastError();
  DeleteFileW(temporary.c_str());
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
  WriteFailed(file, reason);
}

void SyncFolder(const fs::path&) {}

void MakeFolder(const fs::path& folder) {
  if (CreateDirectoryW(folder.c_str(), nullptr)) return;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    throw ReportError("cannot make the report folder " + folder.string() +
                      ": a file of that name is in the way");
  }
  throw ReportError("cannot make the report folder " + folder.string() + ": " + LastError());
}

}  // namespace zel::report::files

#endif  // _WIN32
