// INI files read by Windows itself.
#include <windows.h>

#include <vector>

#include "platform/IniReader.h"

namespace zel::platform {

namespace {

class Win32Ini : public IniReader {
 public:
  std::string ReadString(const std::string& iniWindowsPath, const std::string& section,
                         const std::string& key, const std::string& defaultValue) override {
    std::vector<char> value(4096);
    for (;;) {
      const DWORD length =
          GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), value.data(),
                                   static_cast<DWORD>(value.size()), iniWindowsPath.c_str());
      // A value that filled the buffer may have been cut: read again with more room.
      if (length + 1 < value.size() || value.size() >= (1u << 20))
        return std::string(value.data(), length);
      value.resize(value.size() * 4);
    }
  }
};

}  // namespace

IniReader& HostIni() {
  static Win32Ini ini;
  return ini;
}

}  // namespace zel::platform
