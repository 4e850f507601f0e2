#pragma once
// Windows-like file operations on Windows paths (mapped through DriveMapping). An interface, so
// that tests can make the Nth delete, copy or write fail.
#include <string>

namespace zel::platform {

class WindowsFiles {
 public:
  virtual ~WindowsFiles() = default;
  // True only for an existing regular file, never for a directory (FindFirstFileA as used here).
  virtual bool FileExists(const std::string& windowsPath) = 0;
  // DeleteFileA: true when the file was removed. A file that another live process holds locked
  // or has open is in use and is not deleted, as on Windows. Finding the open files means a
  // look at every process, so a series of deletions shares one look through a DeletionBatch.
  virtual bool DeleteFile(const std::string& windowsPath) = 0;
  // DeleteFile for the lock files this program's own engine session has just made and still
  // holds: a database engine that uses them as well holds a lock of its own on them, so only
  // locks are looked at. Spares the run a look at every process after each table it opens.
  virtual bool DeleteSessionLockFile(const std::string& windowsPath) = 0;
  // Between these calls (nested calls count), deletions reuse one look at which files other
  // processes have open, taken at the first deletion; use DeletionBatch rather than these.
  virtual void BeginDeletionBatch() = 0;
  virtual void EndDeletionBatch() = 0;
  // CopyFileA: true when `to` now holds a complete copy of `from`; an existing `to` is
  // overwritten unless failIfExists.
  virtual bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) = 0;
  // Appends bytes to a file, creating the file (never its folder) when missing, and flushes them
  // to stable storage before returning. Returns 0, or the Windows I/O error code of the step
  // that failed (2, 3, 4, 5, 101, ...). Bytes that end in CR LF are lines: when the file's
  // last line has no line end (a power cut tore it), CR LF is written first. Only a regular
  // file is appended to; on Linux a symbolic link in its place is refused (5).
  virtual int AppendToFile(const std::string& windowsPath, const std::string& bytes) = 0;
  // Creates a folder and any missing parents (ForceDirectories); true when it exists afterwards.
  virtual bool CreateDirectories(const std::string& windowsPath) = 0;
  // Gives the file `from` a second name `to` (never replacing an existing `to`) and makes both
  // the file and the new name durable. Needs no space for the data, so a nearly full disk
  // rarely stops it; false when the file system cannot link (then copy instead).
  virtual bool LinkFile(const std::string& from, const std::string& to) = 0;
  // MoveFileExA with MOVEFILE_REPLACE_EXISTING, in one step: `to` is either the old file or the
  // new one, never missing. Both must be in one folder (on one file system).
  virtual bool MoveFile(const std::string& from, const std::string& to) = 0;
  // Makes the renames, links and deletions made in a folder durable (a forced power-off may
  // follow). False when the folder cannot be synced.
  virtual bool FlushFolder(const std::string& windowsFolder) = 0;
};

// One batch of deletions for as long as it lives: a program that opens one of the files after
// the batch's first deletion is not seen, so a batch should cover deletions made together.
class DeletionBatch {
 public:
  explicit DeletionBatch(WindowsFiles& files) : files_(files) { files_.BeginDeletionBatch(); }
  ~DeletionBatch() { files_.EndDeletionBatch(); }
  DeletionBatch(const DeletionBatch&) = delete;
  DeletionBatch& operator=(const DeletionBatch&) = delete;

 private:
  WindowsFiles& files_;
};

// The real implementation on the host file system.
WindowsFiles& HostFiles();

}  // namespace zel::platform
