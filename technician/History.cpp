#include "technician/History.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/EscapeText.h"
#include "report/Metrics.h"
#include "report/RunReport.h"

namespace zel::technician {
namespace {

using Json = nlohmann::json;
using platform::EscapeText;

// A member of the given type, or an exception naming it (caught as "not a run report").
const Json& Member(const Json& object, const char* name, Json::value_t type) {
  const auto found = object.find(name);
  if (found == object.end()) throw std::runtime_error(std::string("no \"") + name + "\"");
  const bool isNumber = type == Json::value_t::number_integer;
  if (isNumber ? !found->is_number_integer() : found->type() != type)
    throw std::runtime_error(std::string("\"") + name + "\" has the wrong type");
  return *found;
}

report::TableRecord TableOf(const Json& table) {
  report::TableRecord record;
  record.folder = Member(table, "folder", Json::value_t::string).get<std::string>();
  record.table = Member(table, "table", Json::value_t::string).get<std::string>();
  record.skipped = Member(table, "skipped", Json::value_t::boolean).get<bool>();
  for (const Json& index : Member(table, "indexes", Json::value_t::array)) {
    if (!index.is_object()) throw std::runtime_error("an index that is not an object");
    record.indexes.push_back(
        {std::string(), Member(index, "usable", Json::value_t::boolean).get<bool>(), {}});
  }
  const auto repair = table.find("repair");
  if (repair != table.end() && !repair->is_null()) {
    if (!repair->is_object()) throw std::runtime_error("a repair that is not an object");
    auto& made = record.repair.emplace();
    const std::string kind = Member(*repair, "kind", Json::value_t::string).get<std::string>();
    made.kind = kind == "new-empty" ? report::RepairKind::NewEmpty
                : kind == "restore" ? report::RepairKind::Restore
                                    : report::RepairKind::ReIndex;
    made.usable = Member(*repair, "outcome", Json::value_t::string).get<std::string>() == "usable";
  }
  return record;
}

std::string Count(const char* name, int value) {
  return std::string(name) + " " + std::to_string(value);
}

}  // namespace

std::optional<std::chrono::sys_seconds> ParseIsoTime(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, oh = 0, om = 0;
  char sign = 0;
  int used = 0;
  if (text.size() != 25 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d%n", &y, &mo, &d, &h, &mi, &s,
                  &sign, &oh, &om, &used) != 9 ||
      used != 25 || (sign != '+' && sign != '-'))
    return std::nullopt;
  using namespace std::chrono;
  const year_month_day date{year(y), month(static_cast<unsigned>(mo)),
                            day(static_cast<unsigned>(d))};
  if (!date.ok() || h > 23 || mi > 59 || s > 60 || oh > 23 || om > 59) return std::nullopt;
  const seconds offset = hours(oh) + minutes(om);
  return sys_days(date) + hours(h) + minutes(mi) + seconds(s) - (sign == '+' ? offset : -offset);
}

std::optional<HistoryEntry> ReadHistoryEntry(const ReportSource& source, std::string& reason) {
  Json document;
  try {
    document = Json::parse(source.bytes);
  } catch (const Json::parse_error& error) {
    reason = source.bytes.empty() ? "empty file"
                                  : "not a complete report (JSON ends or breaks at byte " +
                                        std::to_string(error.byte) + ")";
    return std::nullopt;
  }
  try {
    if (!document.is_object()) throw std::runtime_error("not an object");
    HistoryEntry entry;
    entry.path = source.path;
    const int schema = Member(document, "schema", Json::value_t::number_integer).get<int>();
    if (schema < 1) throw std::runtime_error("schema " + std::to_string(schema));
    entry.started = Member(document, "started", Json::value_t::string).get<std::string>();
    const auto startedAt = ParseIsoTime(entry.started);
    if (!startedAt) throw std::runtime_error("\"started\" is not a time");
    entry.startedAt = *startedAt;
    // Reports before "kind" say it with checkOnly.
    const auto kind = document.find("kind");
    if (kind != document.end() && kind->is_string())
      entry.kind = kind->get<std::string>();
    else
      entry.kind =
          Member(document, "checkOnly", Json::value_t::boolean).get<bool>() ? "check" : "run";
    entry.exitStatus = Member(document, "exitStatus", Json::value_t::number_integer).get<int>();
    for (const Json& table : Member(document, "tables", Json::value_t::array)) {
      if (!table.is_object()) throw std::runtime_error("a table that is not an object");
      const report::TableRecord record = TableOf(table);
      const std::string_view state = report::TableState(record);
      if (state != "skipped") ++entry.tested;
      if (state == "unusable") ++entry.unusable;
      if (state == "repaired") ++entry.repaired;
      if (state == "replaced") ++entry.replaced;
      if (state == "restored") ++entry.restored;
      if (state != "usable" && state != "skipped")
        entry.needingRepair.push_back(record.folder + "\\" + record.table);
    }
    return entry;
  } catch (const std::exception& error) {
    reason = std::string("not a run report (") + error.what() + ")";
    return std::nullopt;
  }
}

History MakeHistory(const std::vector<ReportSource>& sources, std::vector<std::string> notes) {
  History history;
  history.notes = std::move(notes);
  for (const ReportSource& source : sources) {
    if (!source.reason.empty()) {
      history.unreadable.push_back({source.path, source.reason});
      continue;
    }
    std::string reason;
    if (auto entry = ReadHistoryEntry(source, reason))
      history.entries.push_back(std::move(*entry));
    else
      history.unreadable.push_back({source.path, reason});
  }
  std::stable_sort(history.entries.begin(), history.entries.end(),
                   [](const HistoryEntry& a, const HistoryEntry& b) {
                     return a.startedAt != b.startedAt ? a.startedAt > b.startedAt
                                                       : a.path > b.path;
                   });

  std::map<std::string, int> needed;
  for (const HistoryEntry& entry : history.entries) {
    if (entry.kind != "run") continue;
    if (history.runsCounted == kKeepsBreakingRuns) break;
    ++history.runsCounted;
    for (const std::string& table : entry.needingRepair) ++needed[table];
  }
  for (const auto& [table, runs] : needed)
    if (runs > 1) history.keepsBreaking.push_back({table, runs});
  std::stable_sort(history.keepsBreaking.begin(), history.keepsBreaking.end(),
                   [](const KeepsBreaking& a, const KeepsBreaking& b) { return a.runs > b.runs; });
  return history;
}

std::string HistoryText(const History& history) {
  std::string text;
  for (const std::string& note : history.notes) text += "note: " + EscapeText(note) + "\n";
  if (history.entries.empty() && history.unreadable.empty()) text += "no reports\n";
  for (const HistoryEntry& entry : history.entries) {
    char kind[8];
    std::snprintf(kind, sizeof kind, "%-5s", EscapeText(entry.kind).substr(0, 5).c_str());
    text += EscapeText(entry.started) + "  " + kind + "  " + Count("exit", entry.exitStatus) +
            "  " + Count("tested", entry.tested) + "  " + Count("unusable", entry.unusable) + "  " +
            Count("repaired", entry.repaired) + "  " + Count("replaced", entry.replaced) + "  " +
            Count("restored", entry.restored) + "  " + EscapeText(entry.path) + "\n";
  }
  for (const UnreadableReport& report : history.unreadable)
    text += "unreadable: " + EscapeText(report.path) + ": " + EscapeText(report.reason) + "\n";
  const std::string runs = std::to_string(history.runsCounted);
  if (history.keepsBreaking.empty()) {
    text += "keeps breaking: none in the last " + runs +
            (history.runsCounted == 1 ? " run\n" : " runs\n");
  } else {
    for (const KeepsBreaking& table : history.keepsBreaking)
      text += "keeps breaking: " + EscapeText(table.table) + " needed a repair in " +
              std::to_string(table.runs) + " of the last " + runs + " runs\n";
  }
  return text;
}

std::string HistoryJson(const History& history) {
  using Ordered = nlohmann::ordered_json;
  Ordered reports = Ordered::array();
  for (const HistoryEntry& entry : history.entries)
    reports.push_back({{"file", entry.path},
                       {"started", entry.started},
                       {"kind", entry.kind},
                       {"exitStatus", entry.exitStatus},
                       {"tested", entry.tested},
                       {"unusable", entry.unusable},
                       {"repaired", entry.repaired},
                       {"replaced", entry.replaced},
                       {"restored", entry.restored},
                       {"neededRepair", entry.needingRepair}});
  Ordered unreadable = Ordered::array();
  for (const UnreadableReport& report : history.unreadable)
    unreadable.push_back({{"file", report.path}, {"reason", report.reason}});
  Ordered keeps = Ordered::array();
  for (const KeepsBreaking& table : history.keepsBreaking)
    keeps.push_back({{"table", table.table}, {"runs", table.runs}});
  const Ordered document{{"reports", std::move(reports)},
                         {"unreadable", std::move(unreadable)},
                         {"runsCounted", history.runsCounted},
                         {"keepsBreaking", std::move(keeps)},
                         {"notes", history.notes}};
  return document.dump(2, ' ', false, Ordered::error_handler_t::replace) + "\n";
}

}  // namespace zel::technician
