// zel-demostation: builds a demo fuel station under a Wine prefix for demos, tests and benchmarks.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "tools/demostation/DemoStation.h"
#include "zel/Version.h"

namespace {

void Usage(std::ostream& out) {
  out << "Usage: zel-demostation [--prefix DIR] [--till \"FC  2 - B\"] [--scale N] [--backup-count "
         "N]\n"
         "                      [--damage KIND[:FOLDER/TABLE][@GENERATION]]...\n"
         "\n"
         "Builds a complete ZelPos station under the Wine prefix DIR (drive C: is DIR/drive_c):\n"
         "the five data folders with all 61 tables and DUMMYDISP, c:\\Zelpos\\Zelpos.ini,\n"
         "C:\\ZelPos\\Backup.Ini and seven shift-backup generations under C:\\ShiftBackUp\\.\n"
         "A prefix that already holds a station (C:\\ZELPOS or C:\\ShiftBackUp) is refused, so\n"
         "a real till's station is never overwritten.\n"
         "\n"
         "  --prefix DIR        the Wine prefix to build in (created when missing); default\n"
         "                      $WINEPREFIX, which must then be set (Linux only: on\n"
         "                      Windows the station is built on drive C: itself)\n"
         "  --till TEXT         the till number in Zelpos.ini (default \"FC  1 - A\", the master)\n"
         "  --scale N           records in the big history and transaction tables (default 1000)\n"
         "  --backup-count N    the latest shift-backup generation, 1 to 7 (default 3)\n"
         "  --damage KIND       damage the station; may be given many times\n"
         "  --version           print the version and exit\n"
         "\n"
         "Kinds of damage (default table in brackets):\n";
  for (const auto& kind : zel::demostation::DamageKinds()) {
    std::string name = kind.name;
    if (!kind.target.empty()) name += " [" + kind.target + "]";
    out << "  " << name << "\n      " << kind.summary << "\n";
  }
  out << "\n"
         "Exit status: 0 built, 1 the build failed or the prefix already holds a station,\n"
         "2 bad arguments.\n";
}

bool Number(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
  zel::demostation::StationOptions options;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--help" || arg == "-h") {
        Usage(std::cout);
        return 0;
      }
      if (arg == "--version") {
        std::cout << "zel-demostation " << zel::kVersion << "\n";
        return 0;
      }
      if (i + 1 >= argc) {
        std::cerr << "zel-demostation: " << arg << " needs a value (or is unknown; see --help)\n";
        return 2;
      }
      const char* value = argv[++i];
      long number = 0;
      if (arg == "--prefix") {
#ifdef _WIN32
        // Windows has no prefix to build in: the station goes to drive C: itself.
        std::cerr << "zel-demostation: --prefix is for Linux; on Windows the station is built on "
                     "drive C:\n";
        return 2;
#endif
        options.prefix = value;
      } else if (arg == "--till") {
        options.till = value;
      } else if (arg == "--scale") {
        if (!Number(value, 1, 100000000, number)) {
          std::cerr << "zel-demostation: --scale wants a number from 1 to 100000000, not \""
                    << value << "\"\n";
          return 2;
        }
        options.scale = static_cast<std::size_t>(number);
      } else if (arg == "--backup-count") {
        if (!Number(value, 1, 7, number)) {
          std::cerr << "zel-demostation: --backup-count wants 1 to 7, not \"" << value << "\"\n";
          return 2;
        }
        options.backupCount = static_cast<int>(number);
      } else if (arg == "--damage") {
        options.damages.push_back(zel::demostation::ParseDamage(value));
      } else {
        std::cerr << "zel-demostation: unknown option " << arg << " (see --help)\n";
        return 2;
      }
    }
#ifndef _WIN32
    // Never ~/.wine by default: the prefix is always named, by --prefix or by WINEPREFIX.
    const char* winePrefix = std::getenv("WINEPREFIX");
    if (options.prefix.empty() && winePrefix != nullptr) options.prefix = winePrefix;
    if (options.prefix.empty()) {
      std::cerr << "zel-demostation: --prefix DIR is required when WINEPREFIX is not set (see "
                   "--help)\n";
      return 2;
    }
#endif
    zel::demostation::BuildStation(options, std::cout);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "zel-demostation: " << e.what() << "\n";
    return 1;
  }
}
