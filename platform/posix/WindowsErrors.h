#pragma once
// Windows error codes for POSIX failures, so callers that report Windows-style I/O errors see the
// same codes on Linux as on a till running Windows.
namespace zel::platform {

namespace WinError {
inline constexpr int FileNotFound = 2;        // ERROR_FILE_NOT_FOUND
inline constexpr int PathNotFound = 3;        // ERROR_PATH_NOT_FOUND
inline constexpr int TooManyOpenFiles = 4;    // ERROR_TOO_MANY_OPEN_FILES
inline constexpr int AccessDenied = 5;        // ERROR_ACCESS_DENIED
inline constexpr int InvalidHandle = 6;       // ERROR_INVALID_HANDLE
inline constexpr int SharingViolation = 32;   // ERROR_SHARING_VIOLATION
inline constexpr int InvalidParameter = 87;   // ERROR_INVALID_PARAMETER
inline constexpr int DiskFull = 101;          // the runtime's "Disk full" I/O error
inline constexpr int FilenameTooLong = 206;   // ERROR_FILENAME_EXCED_RANGE
inline constexpr int FileTooLarge = 223;      // ERROR_FILE_TOO_LARGE
inline constexpr int IoDevice = 1117;         // ERROR_IO_DEVICE
inline constexpr int CantResolveName = 1921;  // ERROR_CANT_RESOLVE_FILENAME
}  // namespace WinError

// Maps the errno of a failed create/open/write/fsync/close of a file to a Windows error code.
// `folderExists` tells whether the file's folder exists as a folder: ENOENT or ENOTDIR with the
// folder missing is "path not found" (3), ENOENT with the folder present "file not found" (2).
//   ENOENT 2 or 3, ENOTDIR 3, EMFILE/ENFILE 4, EACCES/EPERM/EROFS/EISDIR 5, EBADF 6,
//   EBUSY/ETXTBSY 32, EINVAL 87, ENOSPC/EDQUOT 101, ENAMETOOLONG 206, EFBIG 223, ELOOP 1921,
//   EIO and everything else 1117 (an I/O device error).
int WindowsErrorFromErrno(int err, bool folderExists);

}  // namespace zel::platform
