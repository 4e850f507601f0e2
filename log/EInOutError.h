#pragma once
// The I/O error of the activity log: the Windows error code and its runtime message.
#include <stdexcept>
#include <string>
#include <utility>

class EInOutError : public std::runtime_error {
 public:
  // `file` is the Windows path concerned; it is not part of what() (the operator sees the
  // runtime's message) but front ends and diagnostics can name it.
  EInOutError(int errorCode, std::string file = {})
      : std::runtime_error(MessageFor(errorCode)), ErrorCode(errorCode), File(std::move(file)) {}

  static std::string MessageFor(int errorCode) {
    switch (errorCode) {
      case 2:
        return "File not found";
      case 3:
        return "Invalid filename";
      case 4:
        return "Too many open files";
      case 5:
        return "File access denied";
      case 101:
        return "Disk full";
      default:
        return "I/O error " + std::to_string(errorCode);
    }
  }

  int ErrorCode;
  std::string File;
};
