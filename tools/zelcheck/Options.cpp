#include "tools/zelcheck/Options.h"

#include <algorithm>
#include <string_view>

namespace zel::zelcheck {
namespace {

// The options that choose a mode. `target` names what the mode works on; empty: nothing.
struct ModeOption {
  std::string_view name;
  Mode mode;
  std::string_view target;
};
// clang-format off
const ModeOption kModeOptions[] = {
    {"--info",    Mode::Info,    "table"},
    {"--deep",    Mode::Deep,    "table"},
    {"--locks",   Mode::Locks,   "folder"},
    {"--salvage", Mode::Salvage, "table"},
    {"--rebuild", Mode::Rebuild, "table"},
    {"--version", Mode::Version, ""},
    {"--help",    Mode::Help,    ""},
    {"-h",        Mode::Help,    ""},
};
// clang-format on

// Options that change how a mode works, and the modes that take them. Those with a `value`
// take one, as "--index A" or "--index=A".
struct Setting {
  std::string_view name;
  std::string_view value;  // what the value is, for "needs ..."; empty: a flag
  std::vector<Mode> modes;
  void (*apply)(Options&, const std::string& value);
};
// clang-format off
const Setting kSettings[] = {
    {"--index", "an index name", {Mode::Verify},
     [](Options& o, const std::string& v) { o.indexes.push_back(v); }},
    {"--json", "", {Mode::Verify, Mode::Deep, Mode::Locks},
     [](Options& o, const std::string&) { o.json = true; }},
    {"--to", "the new table's path", {Mode::Salvage},
     [](Options& o, const std::string& v) { o.salvageTo = v; }},
    {"--like", "a healthy table of the same kind", {Mode::Salvage, Mode::Rebuild},
     [](Options& o, const std::string& v) { o.like = v; }},
};
// clang-format on

std::string_view TargetOf(Mode mode) {
  for (const ModeOption& m : kModeOptions)
    if (m.mode == mode) return m.target;
  return "table";  // Verify
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  std::vector<std::string> positional;
  std::vector<std::string_view> used;  // settings given, checked against the mode at the end
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto mode = std::find_if(std::begin(kModeOptions), std::end(kModeOptions),
                                   [&](const ModeOption& m) { return m.name == a; });
    if (mode != std::end(kModeOptions)) {
      if (mode->mode == Mode::Help || mode->mode == Mode::Version) {
        options.mode = mode->mode;  // whatever else is given
        return true;
      }
      if (!options.modeOption.empty() && options.modeOption != a) {
        error = "choose one of " + options.modeOption + " and " + a;
        return false;
      }
      options.mode = mode->mode;
      options.modeOption = a;
      continue;
    }
    bool known = false;
    for (const Setting& s : kSettings) {
      const std::string name(s.name);
      if (a == name) {
        std::string value;
        if (!s.value.empty()) {
          if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = name + " needs " + std::string(s.value);
            return false;
          }
          value = args[++i];
        }
        s.apply(options, value);
      } else if (!s.value.empty() && a.size() > name.size() + 1 && a.rfind(name + "=", 0) == 0) {
        s.apply(options, a.substr(name.size() + 1));
      } else {
        continue;
      }
      used.push_back(s.name);
      known = true;
      break;
    }
    if (known) continue;
    if (!a.empty() && a[0] == '-') {
      error = "unknown option " + a;
      return false;
    }
    positional.push_back(a);
  }

  for (const Setting& s : kSettings) {
    if (std::find(used.begin(), used.end(), s.name) == used.end()) continue;
    if (std::find(s.modes.begin(), s.modes.end(), options.mode) != s.modes.end()) continue;
    error = (options.modeOption.empty() ? std::string("checking a table") : options.modeOption) +
            " takes no " + std::string(s.name);
    return false;
  }
  const std::string target(TargetOf(options.mode));
  if (positional.empty()) {
    error = "no " + target + " given";
    return false;
  }
  if (positional.size() > 1) {
    error = "one " + target + " at a time (" + positional[0] + ", " + positional[1] + ")";
    return false;
  }
  options.target = positional.front();
  return true;
}

void PrintUsage(std::ostream& out) {
  out << "Usage: zelcheck [--json] TABLE.DB [--index NAME]...\n"
         "       zelcheck --info TABLE.DB\n"
         "       zelcheck [--json] --deep TABLE.DB\n"
         "       zelcheck [--json] --locks FOLDER\n"
         "       zelcheck --salvage DAMAGED.DB --to NEW.DB [--like TEMPLATE.DB]\n"
         "       zelcheck --rebuild TABLE.DB [--like TEMPLATE.DB]\n"
         "       zelcheck --version | --help\n"
         "\n"
         "Checks a Paradox table the way the table engine opens it: first under its primary\n"
         "index, then under each secondary index named with --index (by its stored name or\n"
         "field name, without regard to case). Prints 'usable' or the engine's error for each.\n"
         "--info prints the table's level, code page, sort order, record count, fields, key\n"
         "fields and the secondary indexes found beside it.\n"
         "--deep checks everything an open checks and what it never looks at: the header's\n"
         "figures against the file, every record's field values, every BLOB pointer against\n"
         "the .MB, every secondary index entry against the records, the .VAL's structure.\n"
         "It prints up to 20 problems (damage: data or an index is wrong), each with its file,\n"
         "block and record, then its notes (what the open accepts and leaves nothing wrong:\n"
         "spare blocks, an unmaintained index, what was not checked); exit 0 clean, 1 damaged.\n"
         "--locks lists the Paradox lock files in FOLDER (PDOXUSRS.LCK, PARADOX.LCK, other\n"
         "*.LCK, PDOXUSRS.NET, PARADOX.NET) with their size, whether a live process holds a lock\n"
         "on each or has it open (then it is in use; else it is stale), and which process.\n"
         "--json prints the same facts as one JSON document.\n"
         "--salvage reads every record it can from a damaged table (all blocks, not only the\n"
         "chain) into NEW.DB (+ .PX) and NEW.csv, deleted records of free blocks into\n"
         "NEW.outside.csv, and prints the counts; it never overwrites NEW.DB. --like takes the\n"
         "structure from a healthy table of the same kind when the damaged header is unreadable.\n"
         "Exit 0 output written, 1 the table had records and none could be read, 2 bad arguments.\n"
         "--rebuild rebuilds TABLE.DB in place with every record salvage can read: the same\n"
         "level, block size, code page, sort order, fields, key and secondary indexes (the .VAL\n"
         "stays), from the table itself, else from --like or, for a station's table, from the\n"
         "catalogue. The old files are kept first (ZelUtil.Damaged\\<time>\\<FOLDER>\\ under a\n"
         "station, else TABLE.rebuild-<time>/ beside it), records breaking the key go to\n"
         "KEYVIOL.csv there; then the new files replace the old, the data file last. Refuses,\n"
         "changing nothing, while ZelPos runs or a process holds the table's files, and a table\n"
         "the writer cannot make faithfully. Prints records kept, records lost (with their\n"
         "blocks) and the indexes rebuilt. Exit 0 rebuilt, 1 not rebuilt, 2 bad arguments.\n"
         "  Example: zelcheck --rebuild 'C:\\ZELPOS\\TEMPDATA\\PUMPSALE.DB'\n"
         "\n"
         "TABLE.DB and FOLDER are host paths; a Windows path such as C:\\ZELPOS\\TEMPDATA\\X.DB\n"
         "is mapped into $WINEPREFIX/drive_c. Only --salvage (its new files) and --rebuild\n"
         "write; no lock files are made.\n"
         "\n"
         "Exit status: 0 all usable, 1 a table or index is unusable,\n"
         "2 bad arguments or a file or folder that cannot be read.\n";
}

}  // namespace zel::zelcheck
