#pragma once
// The engine's one error type: a code and a message naming what failed and on which file.
#include <stdexcept>
#include <string>

namespace zel::engine {

// Codes follow the Borland engine's where one fits.
namespace ErrorCode {
inline constexpr int BlobFileMissing = 0x220A;
inline constexpr int CorruptHeader = 0x2301;       // "Corrupt table/index header"
inline constexpr int CorruptFile = 0x2302;         // "Corrupt file - other than header"
inline constexpr int CorruptIndex = 0x2305;        // "Corrupt index"
inline constexpr int CorruptValFile = 0x2308;      // "Corrupt or missing .VAL file"
inline constexpr int FileDoesNotExist = 0x2704;    // "File does not exist"
inline constexpr int UnknownTableType = 0x2707;    // "Unknown table type"
inline constexpr int IndexDoesNotExist = 0x270D;   // "Index does not exist"
inline constexpr int TableDoesNotExist = 0x2728;   // "Table does not exist"
inline constexpr int TableBusy = 0x2803;           // "Table is busy"
inline constexpr int DirectoryBusy = 0x2804;       // "Directory is busy"
inline constexpr int FileLocked = 0x2805;          // "File is locked"
inline constexpr int ForeignNetFile = 0x2C06;      // "Directory is controlled by other .NET file"
inline constexpr int IndexOutOfDate = 0x2F02;      // "Index is out of date"
inline constexpr int ValOutOfDate = 0x2F04;        // ".VAL file is out of date"
inline constexpr int UnknownAlias = 0x2708;        // "Unknown database"
inline constexpr int WriteFailed = 0x2101;         // an I/O failure while writing
inline constexpr int ReadFailed = 0x2102;          // an I/O failure while reading
inline constexpr int CorruptBlobFile = 0x2303;     // "Corrupt Memo/BLOB file"
inline constexpr int NetworkInitFailed = 0x2C01;   // "Network initialization failed"
inline constexpr int CannotLockNetFile = 0x2C04;   // "Cannot lock network file"
// The engine's own: a table encrypted with a password the engine does not have.
inline constexpr int TableEncrypted = 0xE001;
}  // namespace ErrorCode

class EngineError : public std::runtime_error {
 public:
  // `message` is the engine's text ("Index is out of date"); `file` the host path concerned.
  EngineError(int code, const std::string& message, const std::string& file = {})
      : std::runtime_error(file.empty() ? message : message + ": " + file),
        code_(code),
        message_(message),
        file_(file) {}
  int Code() const noexcept { return code_; }
  const std::string& Message() const noexcept { return message_; }
  const std::string& File() const noexcept { return file_; }

 private:
  int code_;
  std::string message_;
  std::string file_;
};

}  // namespace zel::engine
