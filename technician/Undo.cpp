#include "technician/Undo.h"

#include <map>

#include "platform/EscapeText.h"
#include "platform/WindowsFiles.h"
#include "repair/TableFiles.h"
#include "technician/RunManifest.h"
#include "technician/RunSelection.h"
#include "technician/StationGuard.h"
#include "technician/TechnicianReport.h"

namespace zel::technician {
namespace {

void UndoTable(TechnicianContext& context, const report::TableRecord& done,
               const std::string& commandFolder, report::RunReport& report) {
  const std::string name = done.folder + "\\" + done.table;
  const report::RepairRecord& repair = *done.repair;
  if (const std::string holder = HolderOfTableFiles(done.folder, done.table); !holder.empty())
    throw TechnicianError(name + " is left as it is: " + holder);
  report::TableRecord entry{done.folder, done.table, {}, report::RepairRecord{}, false};
  report::RepairRecord& record = *entry.repair;
  record.kind = report::RepairKind::Undo;
  KeepLiveFiles(context.files, commandFolder, done.folder, done.table, repair.touchedFiles, record);
  std::map<std::string, std::string> sources;
  for (const std::string& file : repair.touchedFiles) sources[file] = "";
  for (const report::KeptFile& kept : repair.keptFiles) {
    if (!context.files.FileExists(kept.path))
      throw TechnicianError(name + " is left as it is: its kept file " + kept.path + " is gone");
    sources[kept.name] = kept.path;
  }
  std::size_t removed = 0;
  for (const auto& [file, source] : sources)
    if (source.empty() && context.files.FileExists(repair::LiveFolder(done.folder) + file))
      ++removed;
  ReplaceLiveFiles(context.files, done.folder, done.table, sources, "undo");
  record.manifest = repair::ManifestOf(context.files, done.folder, done.table);
  record.usable = true;
  context.out << "undo " << platform::EscapeText(name) << ": " << repair.keptFiles.size()
              << " files put back, " << removed << " removed\n";
  report.tables.push_back(std::move(entry));
}

}  // namespace

int Undo(TechnicianContext& context, const std::string& run) {
  std::optional<report::RunReport> report;
  int status = kTechnicianOk;
  try {
    const SelectedRun selected = SelectRun(run);
    std::vector<const report::TableRecord*> tables;
    for (const report::TableRecord& table : selected.report.tables)
      if (table.repair && !table.repair->touchedFiles.empty()) tables.push_back(&table);
    if (tables.empty()) {
      context.out << "undo: " << platform::EscapeText(selected.reportFile.string())
                  << " names no table file that was replaced or deleted; nothing to undo\n";
      return kTechnicianOk;
    }
    // Every table is checked before any is touched: an undo over files changed since would lose
    // the change.
    for (const report::TableRecord* table : tables)
      if (const std::string changed = ChangedSince(context.files, table->folder, *table->repair);
          !changed.empty())
        throw TechnicianError("nothing is undone: " + table->folder + "\\" + table->table +
                              " changed since: " + changed);
    RefuseWhilePosRuns(context);
    report = NewCommandReport(context, report::ReportKind::Undo, selected.reportFile);
    const std::string commandFolder = MakeCommandFolder(context, "undo");
    report->damagedFilesFolder = commandFolder;
    for (const report::TableRecord* table : tables) {
      if (!NamedOnFailure(context, [&] { UndoTable(context, *table, commandFolder, *report); }))
        status = kTechnicianPartly;
    }
  } catch (const TechnicianError& e) {
    TellCommandError(context, e.what());
    if (!report) return kTechnicianRefused;
    status = kTechnicianPartly;
  }
  return EndCommand(context, *report, status);
}

}  // namespace zel::technician
