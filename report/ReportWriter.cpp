#include "report/ReportWriter.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "report/ReportFiles.h"
#include "report/ReportReader.h"

namespace zel::report {
namespace fs = std::filesystem;
namespace {

using Json = nlohmann::ordered_json;

const char* Name(PosWindowState state) {
  switch (state) {
    case PosWindowState::Closed:
      return "closed";
    case PosWindowState::StillThere:
      return "still there";
    case PosWindowState::Absent:
      break;
  }
  return "absent";
}

const char* Name(LockAction action) {
  switch (action) {
    case LockAction::Deleted:
      return "deleted";
    case LockAction::Failed:
      return "failed";
    case LockAction::Reported:
      return "reported";
    case LockAction::Absent:
      break;
  }
  return "absent";
}

const char* Name(RepairKind kind) {
  switch (kind) {
    case RepairKind::NewEmpty:
      return "new-empty";
    case RepairKind::Restore:
      return "restore";
    case RepairKind::PutBack:
      return "put-back";
    case RepairKind::Undo:
      return "undo";
    case RepairKind::Rebuild:
      return "rebuild";
    case RepairKind::ReIndex:
      break;
  }
  return "reindex";
}

template <typename T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json ProcessJson(const std::optional<ProcessRef>& process) {
  if (!process) return nullptr;
  return Json{{"pid", process->pid}, {"command", process->command}};
}

Json ErrorJson(const std::optional<ErrorRecord>& error) {
  if (!error) return nullptr;
  return Json{{"code", OrNull(error->code)}, {"text", error->text}, {"file", error->file}};
}

Json SalvageJson(const std::optional<SalvageRecord>& salvage) {
  if (!salvage) return nullptr;
  return Json{{"recovered", salvage->recovered},
              {"outsideChain", salvage->outsideChain},
              {"dropped", salvage->dropped},
              {"unreadableBlocks", salvage->unreadableBlocks},
              {"path", salvage->path}};
}

Json LostByRestoreJson(const std::optional<LostByRestoreRecord>& lost) {
  if (!lost) return nullptr;
  return Json{{"onlyDamaged", lost->onlyDamaged},
              {"differing", lost->differing},
              {"onlyBackup", lost->onlyBackup},
              {"path", lost->path}};
}

Json PutBackJson(const std::optional<PutBackRecord>& putBack) {
  if (!putBack) return nullptr;
  return Json{{"source", putBack->source},
              {"added", putBack->added},
              {"alreadyPresent", putBack->alreadyPresent},
              {"keyViolations", putBack->keyViolations},
              {"keyViolPath", OrNull(putBack->keyViolPath)}};
}

Json RepairJson(const std::optional<RepairRecord>& repair) {
  if (!repair) return nullptr;
  Json kept = Json::array();
  for (const KeptFile& file : repair->keptFiles)
    kept.push_back({{"name", file.name}, {"path", file.path}});
  Json manifest = Json::array();
  for (const ManifestEntry& entry : repair->manifest)
    manifest.push_back({{"name", entry.name}, {"size", entry.size}, {"sha256", entry.sha256}});
  Json document{{"kind", Name(repair->kind)},
                {"outcome", repair->usable ? "usable" : "unusable"},
                {"generation", OrNull(repair->generation)},
                {"savedTo", OrNull(repair->savedTo)},
                {"salvage", SalvageJson(repair->salvage)},
                {"keptFiles", std::move(kept)},
                {"touchedFiles", repair->touchedFiles},
                {"manifest", std::move(manifest)},
                {"lostByRestore", LostByRestoreJson(repair->lostByRestore)}};
  if (repair->putBack) document["putBack"] = PutBackJson(repair->putBack);
  return document;
}

const char* Name(const RunReport& report) {
  if (!report.kind) return report.checkOnly ? "check" : "run";
  return KindName(*report.kind);
}

Json TableJson(const TableRecord& table) {
  Json indexes = Json::array();
  for (const IndexRecord& index : table.indexes)
    indexes.push_back(
        {{"index", index.index}, {"usable", index.usable}, {"error", ErrorJson(index.error)}});
  return Json{{"folder", table.folder},        {"table", table.table},
              {"indexes", std::move(indexes)}, {"repair", RepairJson(table.repair)},
              {"skipped", table.skipped},      {"retested", table.retested}};
}

}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  long offset = 0;
  const std::tm local = files::LocalTime(seconds, offset);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const int minutes = static_cast<int>(((offset < 0 ? -offset : offset) / 60) % (24 * 60));
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return std::string(text) + zone;
}

std::string ReportDocument(const RunReport& report) {
  Json lockFiles = Json::array();
  for (const LockFileRecord& lock : report.step1.lockFiles)
    lockFiles.push_back(
        {{"path", lock.path}, {"action", Name(lock.action)}, {"heldBy", ProcessJson(lock.heldBy)}});
  Json tables = Json::array();
  for (const TableRecord& table : report.tables) tables.push_back(TableJson(table));

  Json document{{"schema", kSchema},
                {"kind", Name(report)},
                {"program", report.program},
                {"version", report.version},
                {"started", IsoTime(report.started)},
                {"finished", IsoTime(report.finished)},
                {"till", report.till},
                {"masterTill", report.masterTill},
                {"exitStatus", report.exitStatus},
                {"checkOnly", report.checkOnly},
                {"step1",
                 {{"ok", report.step1.ok},
                  {"posWindow", Name(report.step1.posWindow)},
                  {"lockFiles", std::move(lockFiles)}}},
                {"tables", std::move(tables)},
                {"damagedFilesFolder", OrNull(report.damagedFilesFolder)},
                {"tablesInUse", OrNull(report.tablesInUse)}};
  if (report.sourceReport) document["sourceReport"] = *report.sourceReport;
  // Names read from files may hold any bytes: invalid UTF-8 becomes U+FFFD instead of an error.
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

namespace {
ReportOutput g_output;
}  // namespace

void SetReportOutput(ReportOutput output) {
  g_output = std::move(output);
}

void WriteReport(const fs::path& file, const std::string& document) {
  if (g_output && g_output(file, document)) return;
  files::Replace(files::WriteTemporary(file, document), file);
  files::SyncFolder(file.has_parent_path() ? file.parent_path() : fs::path("."));
}

bool WriteNewReport(const fs::path& file, const std::string& document) {
  if (!files::PublishNew(files::WriteTemporary(file, document), file)) return false;
  files::SyncFolder(file.has_parent_path() ? file.parent_path() : fs::path("."));
  return true;
}

}  // namespace zel::report
