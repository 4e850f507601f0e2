#pragma once
// Builds a complete demo fuel station under a Wine prefix: the five data folders with every
// table, the POS settings, seven shift-backup generations, and damage on request.
#include <cstddef>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zel::demostation {

// A problem with the request or the build, naming what failed and on which file.
class StationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DamageKind {
  std::string name;
  std::string target;   // default FOLDER/TABLE, empty when the kind takes none
  std::string summary;  // one line for --help
};
// Every kind of damage the builder can apply.
const std::vector<DamageKind>& DamageKinds();

struct Damage {
  std::string kind;
  std::string folder;  // upper case; empty: the kind's default
  std::string table;
  int generation = 0;  // backup kinds: 0 means the latest
};
// Parses "KIND[:FOLDER/TABLE][@GENERATION]"; raises StationError on an unknown kind or table.
Damage ParseDamage(const std::string& text);

struct StationOptions {
  std::filesystem::path prefix;
  std::string till = "FC  1 - A";
  std::size_t scale = 1000;
  int backupCount = 3;  // the latest shift-backup generation, 1..7
  std::vector<Damage> damages;
};

// Builds the station, reporting progress and a summary on `out`. Refuses a prefix that already
// holds a station, so nothing of an existing one is overwritten. Sets WINEPREFIX for this process.
void BuildStation(const StationOptions& options, std::ostream& out);

}  // namespace zel::demostation
