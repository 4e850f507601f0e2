#include "report/ReportReader.h"

#include <nlohmann/json.hpp>

namespace zel::report {
namespace {

using Json = nlohmann::json;

std::optional<std::string> OptionalText(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  return it->get<std::string>();
}

RepairKind RepairKindNamed(const std::string& name) {
  if (name == "new-empty") return RepairKind::NewEmpty;
  if (name == "restore") return RepairKind::Restore;
  if (name == "put-back") return RepairKind::PutBack;
  if (name == "undo") return RepairKind::Undo;
  if (name == "rebuild") return RepairKind::Rebuild;
  if (name == "reindex") return RepairKind::ReIndex;
  throw std::invalid_argument("unknown repair kind \"" + name + "\"");
}

ReportKind ReportKindNamed(const std::string& name) {
  for (const ReportKind kind : {ReportKind::Run, ReportKind::Check, ReportKind::PutBack,
                                ReportKind::Undo, ReportKind::Rebuild})
    if (name == KindName(kind)) return kind;
  throw std::invalid_argument("unknown report kind \"" + name + "\"");
}

RepairRecord ParseRepair(const Json& j) {
  RepairRecord repair;
  repair.kind = RepairKindNamed(j.at("kind").get<std::string>());
  repair.usable = j.value("outcome", "") == "usable";
  repair.generation = OptionalText(j, "generation");
  repair.savedTo = OptionalText(j, "savedTo");
  if (const auto it = j.find("salvage"); it != j.end() && !it->is_null())
    repair.salvage = SalvageRecord{
        it->at("recovered").get<std::uint64_t>(), it->at("outsideChain").get<std::uint64_t>(),
        it->at("dropped").get<std::uint64_t>(), it->at("unreadableBlocks").get<std::uint64_t>(),
        it->at("path").get<std::string>()};
  for (const Json& kept : j.value("keptFiles", Json::array()))
    repair.keptFiles.push_back(
        {kept.at("name").get<std::string>(), kept.at("path").get<std::string>()});
  for (const Json& name : j.value("touchedFiles", Json::array()))
    repair.touchedFiles.push_back(name.get<std::string>());
  for (const Json& entry : j.value("manifest", Json::array()))
    repair.manifest.push_back({entry.at("name").get<std::string>(),
                               entry.at("size").get<std::uint64_t>(),
                               entry.at("sha256").get<std::string>()});
  if (const auto it = j.find("lostByRestore"); it != j.end() && !it->is_null())
    repair.lostByRestore = LostByRestoreRecord{
        it->at("onlyDamaged").get<std::uint64_t>(), it->at("differing").get<std::uint64_t>(),
        it->at("onlyBackup").get<std::uint64_t>(), it->at("path").get<std::string>()};
  if (const auto it = j.find("putBack"); it != j.end() && !it->is_null())
    repair.putBack = PutBackRecord{
        it->at("source").get<std::string>(), it->at("added").get<std::uint64_t>(),
        it->at("alreadyPresent").get<std::uint64_t>(), it->at("keyViolations").get<std::uint64_t>(),
        OptionalText(*it, "keyViolPath")};
  return repair;
}

}  // namespace

const char* KindName(ReportKind kind) {
  switch (kind) {
    case ReportKind::Check:
      return "check";
    case ReportKind::PutBack:
      return "put-back";
    case ReportKind::Undo:
      return "undo";
    case ReportKind::Rebuild:
      return "rebuild";
    case ReportKind::Run:
      break;
  }
  return "run";
}

RunReport ParseReport(const std::string& document, const std::string& file) {
  try {
    const Json j = Json::parse(document);
    RunReport report;
    report.checkOnly = j.value("checkOnly", false);
    report.kind = j.contains("kind") ? ReportKindNamed(j.at("kind").get<std::string>())
                                     : (report.checkOnly ? ReportKind::Check : ReportKind::Run);
    report.sourceReport = OptionalText(j, "sourceReport");
    report.program = j.value("program", "");
    report.exitStatus = j.value("exitStatus", 0);
    report.damagedFilesFolder = OptionalText(j, "damagedFilesFolder");
    for (const Json& t : j.at("tables")) {
      TableRecord table;
      table.folder = t.at("folder").get<std::string>();
      table.table = t.at("table").get<std::string>();
      table.skipped = t.value("skipped", false);
      if (const auto it = t.find("repair"); it != t.end() && !it->is_null())
        table.repair = ParseRepair(*it);
      report.tables.push_back(std::move(table));
    }
    return report;
  } catch (const std::exception& error) {
    throw ReportReadError(file + " is not a report ZelUtil can read: " + error.what());
  }
}

}  // namespace zel::report
