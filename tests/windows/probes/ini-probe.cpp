// Reads INI values as Windows reads them, through the same reader ZelUtil uses on Windows
// (GetPrivateProfileStringA), and prints each between brackets on a line of its own.
// Usage: ini-probe.exe FILE SECTION KEY DEFAULT [SECTION KEY DEFAULT]...
#include <cstdio>

#include "platform/IniReader.h"

int main(int argc, char* argv[]) {
  if (argc < 5 || (argc - 2) % 3 != 0) {
    std::fprintf(stderr, "usage: ini-probe.exe FILE SECTION KEY DEFAULT...\n");
    return 2;
  }
  for (int i = 2; i + 2 < argc; i += 3) {
    const std::string value =
        zel::platform::HostIni().ReadString(argv[1], argv[i], argv[i + 1], argv[i + 2]);
    std::printf("[%s]\n", value.c_str());
  }
  return 0;
}
