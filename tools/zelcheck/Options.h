#pragma once
// zelcheck's command line: one mode, the table or folder it works on, and the options.
#include <ostream>
#include <string>
#include <vector>

namespace zel::zelcheck {

enum class Mode {
  Verify,   // TABLE.DB [--index NAME]...: the default
  Info,     // --info TABLE.DB
  Locks,    // --locks FOLDER
  Deep,     // --deep TABLE.DB: the deep check
  Salvage,  // --salvage DAMAGED.DB --to NEW.DB [--like TEMPLATE.DB]
  Rebuild,  // --rebuild TABLE.DB [--like TEMPLATE.DB]
  Version,
  Help,
};

struct Options {
  Mode mode = Mode::Verify;
  std::string modeOption;            // the option that chose the mode ("--info"); empty: Verify
  std::string target;                // the table or folder named on the command line
  std::vector<std::string> indexes;  // --index NAME
  bool json = false;                 // --json: one JSON document on stdout instead of lines
  std::string salvageTo;             // --to NEW.DB: where --salvage writes
  std::string like;  // --like TEMPLATE.DB: the structure for --salvage and --rebuild
};

// Reads the arguments (without the program name). On bad use returns false with `error` saying
// what is wrong.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

void PrintUsage(std::ostream& out);

}  // namespace zel::zelcheck
