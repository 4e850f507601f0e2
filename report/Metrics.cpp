#include "report/Metrics.h"

#include <array>
#include <cstdio>
#include <map>
#include <sstream>
#include <vector>

namespace zel::report {
namespace {

struct Family {
  const char* name;
  const char* help;
  bool byKind;  // one sample per kind, the other kind's kept from the earlier file
};

constexpr std::array<Family, 6> kFamilies = {{
    {"zelutil_last_run_timestamp_seconds", "When the last run of this kind ended (Unix time).",
     true},
    {"zelutil_last_run_exit_status", "The exit status of the last run of this kind.", true},
    {"zelutil_run_duration_seconds", "How long the last run of this kind took.", true},
    {"zelutil_tables", "Tables of the last run or check by what they came to.", false},
    {"zelutil_lock_files", "Paradox lock files the last run or check found.", false},
    {"zelutil_table_unusable", "1 for each table the last run or check left unusable.", false},
}};

// A label value as the text format wants it: backslash, double quote and line feed escaped.
std::string LabelValue(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"')
      out += {'\\', c};
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The family a sample line belongs to: its name up to the labels or the value.
std::string SampleFamily(const std::string& line) {
  const std::size_t end = line.find_first_of("{ ");
  return line.substr(0, end);
}

}  // namespace

std::string_view TableState(const TableRecord& table) {
  if (table.skipped) return "skipped";
  if (table.repair) {
    if (!table.repair->usable) return "unusable";
    switch (table.repair->kind) {
      case RepairKind::ReIndex:
        return "repaired";
      case RepairKind::NewEmpty:
        return "replaced";
      case RepairKind::Restore:
        return "restored";
      case RepairKind::PutBack:
      case RepairKind::Undo:
      case RepairKind::Rebuild:
        return "repaired";
    }
  }
  for (const IndexRecord& index : table.indexes)
    if (!index.usable) return "unusable";
  return "usable";
}

std::string MetricsText(const RunReport& report, std::string_view kind,
                        std::chrono::system_clock::time_point finished,
                        std::chrono::duration<double> duration, int exitStatus) {
  std::map<std::string, std::vector<std::string>> samples;
  const std::string byKind = "{kind=\"" + std::string(kind) + "\"} ";
  const double seconds = std::chrono::duration<double>(finished.time_since_epoch()).count();
  samples["zelutil_last_run_timestamp_seconds"].push_back("zelutil_last_run_timestamp_seconds" +
                                                          byKind + Number(seconds));
  samples["zelutil_last_run_exit_status"].push_back("zelutil_last_run_exit_status" + byKind +
                                                    std::to_string(exitStatus));
  samples["zelutil_run_duration_seconds"].push_back("zelutil_run_duration_seconds" + byKind +
                                                    Number(duration.count()));

  std::map<std::string_view, int> states = {{"usable", 0},   {"unusable", 0}, {"skipped", 0},
                                            {"repaired", 0}, {"replaced", 0}, {"restored", 0}};
  for (const TableRecord& table : report.tables) {
    const std::string_view state = TableState(table);
    ++states[state];
    if (state == "unusable")
      samples["zelutil_table_unusable"].push_back("zelutil_table_unusable{folder=\"" +
                                                  LabelValue(table.folder) + "\",table=\"" +
                                                  LabelValue(table.table) + "\"} 1");
  }
  for (const auto& [state, count] : states)
    samples["zelutil_tables"].push_back("zelutil_tables{state=\"" + std::string(state) + "\"} " +
                                        std::to_string(count));

  int stale = 0;
  int held = 0;
  for (const LockFileRecord& lock : report.step1.lockFiles) {
    if (lock.action == LockAction::Absent) continue;
    ++(lock.heldBy ? held : stale);
  }
  samples["zelutil_lock_files"].push_back("zelutil_lock_files{state=\"stale\"} " +
                                          std::to_string(stale));
  samples["zelutil_lock_files"].push_back("zelutil_lock_files{state=\"held\"} " +
                                          std::to_string(held));

  std::string text;
  for (const Family& family : kFamilies) {
    text += std::string("# HELP ") + family.name + " " + family.help + "\n";
    text += std::string("# TYPE ") + family.name + " gauge\n";
    for (const std::string& line : samples[family.name]) text += line + "\n";
  }
  return text;
}

std::string MergeMetrics(const std::string& existing, const std::string& fresh,
                         std::string_view kind) {
  // The other kind's samples of the families kept per kind.
  const std::string ours = "kind=\"" + std::string(kind) + "\"";
  std::map<std::string, std::vector<std::string>> kept;
  std::istringstream lines(existing);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#' || line.find("kind=\"") == std::string::npos ||
        line.find(ours) != std::string::npos)
      continue;
    const std::string family = SampleFamily(line);
    for (const Family& known : kFamilies)
      if (known.byKind && family == known.name) kept[family].push_back(line);
  }
  std::string merged;
  std::istringstream freshLines(fresh);
  std::string current;
  for (std::string line; std::getline(freshLines, line);) {
    if (line.rfind("# TYPE ", 0) == 0) current = SampleFamily(line.substr(7));
    merged += line + "\n";
    // After the family's own samples come the other kind's, before the next family's HELP.
    if (!line.empty() && line[0] != '#' && SampleFamily(line) == current) {
      for (const std::string& other : kept[current]) merged += other + "\n";
      kept.erase(current);
    }
  }
  return merged;
}

}  // namespace zel::report
