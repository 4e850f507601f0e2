#pragma once
// GetPrivateProfileStringA on Linux: section and key matched without regard to case, only the
// first section of a name read; the default when the file, section or key is missing, or when
// the path names no regular file.
#include <string>

namespace zel::platform {

class IniReader {
 public:
  virtual ~IniReader() = default;
  virtual std::string ReadString(const std::string& iniWindowsPath, const std::string& section,
                                 const std::string& key, const std::string& defaultValue) = 0;
};

IniReader& HostIni();

}  // namespace zel::platform
