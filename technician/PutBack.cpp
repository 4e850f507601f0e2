#include "technician/PutBack.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "creators/Schemas.h"
#include "engine/CsvExport.h"
#include "engine/TableRecords.h"
#include "engine/TableWriter.h"
#include "engine/Verifier.h"
#include "platform/AsciiCase.h"
#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "platform/WindowsFiles.h"
#include "repair/TableFiles.h"
#include "report/ReportReader.h"
#include "technician/RecordMerge.h"
#include "technician/RunManifest.h"
#include "technician/RunSelection.h"
#include "technician/StationGuard.h"
#include "technician/TechnicianReport.h"

namespace zel::technician {
namespace {

using platform::AsciiUpper;

bool EndsWithDb(const std::string& path) {
  return path.size() > 3 && AsciiUpper(path.substr(path.size() - 3)) == ".DB";
}

struct Candidate {
  const report::TableRecord* table;
  std::string salvaged;  // Windows path of the salvaged .DB
};

// The tables this put-back is for: every table the run replaced by a new empty one, or the
// master table named, which the run restored.
std::vector<Candidate> Candidates(TechnicianContext& context, const report::RunReport& run,
                                  const PutBackOptions& options) {
  std::vector<Candidate> out;
  for (const report::TableRecord& table : run.tables) {
    if (!table.repair) continue;
    const report::RepairRecord& repair = *table.repair;
    if (options.master) {
      const std::string wanted = AsciiUpper(*options.master);
      if (wanted != AsciiUpper(table.table) &&
          wanted != AsciiUpper(table.folder + "\\" + table.table))
        continue;
      if (repair.kind != report::RepairKind::Restore || !repair.generation)
        throw TechnicianError(table.folder + "\\" + table.table +
                              " was not restored from a backup by that run");
      if (!repair.salvage || !EndsWithDb(repair.salvage->path) || !repair.lostByRestore)
        throw TechnicianError("nothing of " + table.folder + "\\" + table.table +
                              " was salvaged into a table by that run; nothing to put back");
      out.push_back({&table, repair.salvage->path});
      continue;
    }
    if (repair.kind != report::RepairKind::NewEmpty) continue;
    if (!repair.salvage || repair.salvage->recovered == 0) continue;  // nothing was read
    if (!EndsWithDb(repair.salvage->path)) {
      context.err << "put-back " << platform::EscapeText(table.folder + "\\" + table.table)
                  << ": only " << platform::EscapeText(repair.salvage->path)
                  << " was salvaged; its records are for the technician to enter\n";
      continue;
    }
    out.push_back({&table, repair.salvage->path});
  }
  if (options.master && out.empty())
    throw TechnicianError("that run did not restore a table named " + *options.master);
  return out;
}

// An earlier put-back of one of these tables from the same run, by its report; "" when none.
std::string EarlierPutBack(const std::filesystem::path& runReport,
                           const std::vector<Candidate>& candidates) {
  for (const std::filesystem::path& file : StationReports()) {
    report::RunReport earlier;
    try {
      earlier = ReadReport(file);
    } catch (const TechnicianError&) {
      continue;
    }
    if (earlier.kind != report::ReportKind::PutBack || !earlier.sourceReport ||
        !SameFile(*earlier.sourceReport, runReport))
      continue;
    for (const report::TableRecord& done : earlier.tables)
      for (const Candidate& c : candidates)
        if (done.repair && done.repair->putBack &&
            AsciiUpper(done.folder) == AsciiUpper(c.table->folder) &&
            AsciiUpper(done.table) == AsciiUpper(c.table->table))
          return file.string() + " (" + done.folder + "\\" + done.table + ")";
  }
  return "";
}

bool SameStructure(const std::vector<engine::FieldDef>& a, const std::vector<engine::FieldDef>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return AsciiUpper(x.name) == AsciiUpper(y.name) && x.type == y.type && x.size == y.size;
  });
}

void WriteKeyViolations(platform::WindowsFiles& files, const std::string& path,
                        const engine::TableRecords& salvaged,
                        const std::vector<std::size_t>& rows) {
  const int codePage = salvaged.header.codePage ? salvaged.header.codePage : 1252;
  std::string text;
  for (std::size_t f = 0; f < salvaged.fields.size(); ++f) {
    if (f) text += ",";
    engine::csv::AppendField(text, salvaged.fields[f].name);
  }
  text += "\r\n";
  for (const std::size_t i : rows) {
    for (std::size_t f = 0; f < salvaged.fields.size(); ++f) {
      if (f) text += ",";
      engine::csv::AppendField(
          text, engine::ValueText(salvaged.fields[f], salvaged.records[i][f], codePage));
    }
    text += "\r\n";
  }
  if (files.FileExists(path) || files.AppendToFile(path, text) != 0)
    throw TechnicianError("cannot write " + path);
}

// Puts back one table; its record goes into `report`. Raises TechnicianError when the table is
// refused or fails, with the table as it was (or, after a swap cut short, mended by a run).
void PutBackTable(TechnicianContext& context, const Candidate& c, const std::string& commandFolder,
                  report::RunReport& report) {
  const std::string& folder = c.table->folder;
  const std::string& table = c.table->table;
  const std::string name = folder + "\\" + table;
  if (const std::string holder = HolderOfTableFiles(folder, table); !holder.empty())
    throw TechnicianError(name + " is left as it is: " + holder);
  const creators::TableSchema* schema = creators::FindSchema(folder, table);
  if (!schema) throw TechnicianError(name + " is not a table of the catalogue");

  const std::string liveDb = repair::LivePath(folder, table, ".DB");
  engine::TableRecords live, salvaged;
  try {
    live = engine::ReadTableRecords(platform::MapWindowsPath(liveDb));
    salvaged = engine::ReadTableRecords(platform::MapWindowsPath(c.salvaged));
  } catch (const std::exception& e) {
    throw TechnicianError(name + " is left as it is: " + e.what());
  }
  if (!SameStructure(live.fields, schema->def.fields) ||
      live.keyFieldCount != schema->def.keyFieldCount)
    throw TechnicianError(name + " is left as it is: its fields are not the catalogue's");
  if (!SameStructure(salvaged.fields, live.fields))
    throw TechnicianError(name + " is left as it is: the fields of " + c.salvaged +
                          " differ from the live table's");

  const MergePlan plan = PlanMerge(live.records, salvaged.records, live.keyFieldCount);
  report::TableRecord entry{folder, table, {}, report::RepairRecord{}, false};
  report::RepairRecord& record = *entry.repair;
  record.kind = report::RepairKind::PutBack;
  record.putBack = report::PutBackRecord{c.salvaged, plan.added.size(), plan.alreadyPresent.size(),
                                         plan.keyViolations.size(), std::nullopt};
  const std::string target = commandFolder + folder + "\\";
  if (!plan.keyViolations.empty()) {
    if (!context.files.CreateDirectories(target))
      throw TechnicianError("cannot make the folder " + target);
    const std::string keyViol = target + table + ".KEYVIOL.csv";
    WriteKeyViolations(context.files, keyViol, salvaged, plan.keyViolations);
    record.putBack->keyViolPath = keyViol;
  }

  if (!plan.added.empty()) {
    // The merged table is written whole beside the kept files, then swapped in as a restore is.
    const std::string made = target + "New\\";
    if (!context.files.CreateDirectories(made))
      throw TechnicianError("cannot make the folder " + made);
    std::vector<engine::Record> records = live.records;
    for (const std::size_t i : plan.added) records.push_back(salvaged.records[i]);
    try {
      engine::CreateTable(platform::MapWindowsPath(made + table + ".DB"), schema->def, records);
    } catch (const std::exception& e) {
      throw TechnicianError(name + " is left as it is: the merged table could not be written (" +
                            e.what() + ")");
    }
    std::vector<std::string> names;
    for (const char* extension : repair::kKeptFileSet) names.push_back(table + extension);
    KeepLiveFiles(context.files, commandFolder, folder, table, names, record);
    std::map<std::string, std::string> sources;
    for (const char* extension : repair::kTableFileSet) {
      const std::string file = made + table + extension;
      sources[table + extension] = context.files.FileExists(file) ? file : "";
    }
    ReplaceLiveFiles(context.files, folder, table, sources, "putback");
    // The merged table's own names go: the live table is the only one of these records.
    for (const auto& [file, source] : sources)
      if (!source.empty()) context.files.DeleteFile(source);
    std::error_code ec;
    std::filesystem::remove(platform::MapWindowsPath(made), ec);
    record.manifest = repair::ManifestOf(context.files, folder, table);
  }
  try {
    engine::VerifyTable(platform::MapWindowsPath(liveDb), "");
    for (const engine::SecondaryIndexDef& index : schema->def.indexes)
      engine::VerifyTable(platform::MapWindowsPath(liveDb), index.name);
    record.usable = true;
  } catch (const std::exception& e) {
    context.err << "zelutil-console: " << platform::EscapeControls(e.what()) << "\n";
  }
  context.out << "put-back " << platform::EscapeText(name) << ": added " << plan.added.size()
              << ", present already " << plan.alreadyPresent.size() << ", key present "
              << plan.keyViolations.size()
              << (record.putBack->keyViolPath
                      ? " (in " + platform::EscapeText(*record.putBack->keyViolPath) + ")"
                      : std::string())
              << ", from " << platform::EscapeText(c.salvaged)
              << (record.usable ? "" : "; the table is not usable, run ZelUtil") << "\n";
  report.tables.push_back(std::move(entry));
}

}  // namespace

int PutBack(TechnicianContext& context, const PutBackOptions& options) {
  std::string commandFolder;
  std::optional<report::RunReport> report;
  int status = kTechnicianOk;
  try {
    const SelectedRun run = SelectRun(options.run);
    if (run.report.kind && *run.report.kind != report::ReportKind::Run)
      throw TechnicianError(run.reportFile.string() + " is not the report of a run");
    const std::vector<Candidate> candidates = Candidates(context, run.report, options);
    if (candidates.empty()) {
      context.out << "put-back: that run replaced no table whose records were salvaged into a "
                     "table; nothing to put back\n";
      return kTechnicianOk;
    }
    if (const std::string earlier = EarlierPutBack(run.reportFile, candidates); !earlier.empty())
      throw TechnicianError("the records of that run were put back before, by " + earlier);
    RefuseWhilePosRuns(context);
    report = NewCommandReport(context, report::ReportKind::PutBack, run.reportFile);
    commandFolder = MakeCommandFolder(context, "put-back");
    report->damagedFilesFolder = commandFolder;
    for (const Candidate& c : candidates) {
      if (!NamedOnFailure(context, [&] { PutBackTable(context, c, commandFolder, *report); }))
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
