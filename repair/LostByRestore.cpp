#include "repair/LostByRestore.h"

#include <map>

#include "engine/CsvExport.h"
#include "engine/TableRecords.h"
#include "platform/DriveMapping.h"
#include "platform/WindowsFiles.h"
#include "repair/TableFiles.h"

namespace zel::repair {
namespace {

constexpr const char* kCsvName = "Lost-by-restore.csv";

engine::Record KeyOf(const engine::Record& record, int keyFields) {
  return {record.begin(), record.begin() + keyFields};
}

std::string Field(const std::string& value) {
  std::string out;
  engine::csv::AppendField(out, value);
  return out;
}

}  // namespace

RecordDifferences CompareRecords(const std::vector<engine::Record>& damaged,
                                 const std::vector<engine::Record>& restored, int keyFields) {
  RecordDifferences d;
  if (keyFields > 0) {
    std::map<engine::Record, std::size_t> byKey;
    for (std::size_t i = 0; i < restored.size(); ++i)
      byKey.emplace(KeyOf(restored[i], keyFields), i);
    std::vector<bool> matched(restored.size());
    for (std::size_t i = 0; i < damaged.size(); ++i) {
      const auto it = byKey.find(KeyOf(damaged[i], keyFields));
      if (it == byKey.end()) {
        d.onlyDamaged.push_back(i);
        continue;
      }
      matched[it->second] = true;
      if (restored[it->second] != damaged[i]) d.differing.emplace_back(i, it->second);
    }
    for (std::size_t i = 0; i < restored.size(); ++i)
      if (!matched[i]) d.onlyBackup.push_back(i);
    return d;
  }
  // A heap has no key: records are matched whole, each copy once.
  std::multimap<engine::Record, std::size_t> left;
  for (std::size_t i = 0; i < restored.size(); ++i) left.emplace(restored[i], i);
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    const auto it = left.find(damaged[i]);
    if (it == left.end())
      d.onlyDamaged.push_back(i);
    else
      left.erase(it);
  }
  for (const auto& [record, i] : left) d.onlyBackup.push_back(i);
  return d;
}

void NoteLostByRestore(platform::WindowsFiles& files, const std::string& folder,
                       const std::string& table, const std::string& runFolder,
                       report::RepairRecord& record) {
  if (!record.salvage || record.salvage->path.size() < 3 ||
      record.salvage->path.substr(record.salvage->path.size() - 3) != ".DB")
    return;
  const std::string name = folder + "\\" + table;
  try {
    const engine::TableRecords damaged =
        engine::ReadTableRecords(platform::MapWindowsPath(record.salvage->path));
    const engine::TableRecords restored =
        engine::ReadTableRecords(platform::MapWindowsPath(LivePath(folder, table, ".DB")));
    if (damaged.fields.size() != restored.fields.size() ||
        damaged.keyFieldCount != restored.keyFieldCount)
      throw std::runtime_error("the backup's fields differ from the damaged table's");
    const RecordDifferences d =
        CompareRecords(damaged.records, restored.records, restored.keyFieldCount);
    const int codePage = restored.header.codePage ? restored.header.codePage : 1252;
    const std::string csv = runFolder + kCsvName;

    // One row per field: the records of a restore are of one table, the file of every table.
    std::string rows;
    const auto keyText = [&](const engine::Record& r, std::size_t number) {
      if (restored.keyFieldCount == 0) return "record " + std::to_string(number + 1);
      std::string key;
      for (int k = 0; k < restored.keyFieldCount; ++k) {
        if (k) key += " | ";
        key += engine::ValueText(restored.fields[k], r[k], codePage);
      }
      return key;
    };
    const auto row = [&](const char* change, const std::string& key, const engine::FieldDef& f,
                         const engine::FieldValue* was, const engine::FieldValue* now) {
      rows += Field(folder) + "," + Field(table) + "," + Field(change) + "," + Field(key) + "," +
              Field(f.name) + "," + Field(was ? engine::ValueText(f, *was, codePage) : "") + "," +
              Field(now ? engine::ValueText(f, *now, codePage) : "") + "\r\n";
    };
    for (const std::size_t i : d.onlyDamaged)
      for (std::size_t f = 0; f < damaged.fields.size(); ++f)
        row("only in the damaged table", keyText(damaged.records[i], i), damaged.fields[f],
            &damaged.records[i][f], nullptr);
    for (const auto& [i, j] : d.differing)
      for (std::size_t f = 0; f < damaged.fields.size(); ++f)
        if (damaged.records[i][f] != restored.records[j][f])
          row("differing", keyText(damaged.records[i], i), damaged.fields[f],
              &damaged.records[i][f], &restored.records[j][f]);
    for (const std::size_t j : d.onlyBackup)
      for (std::size_t f = 0; f < restored.fields.size(); ++f)
        row("only in the backup", keyText(restored.records[j], j), restored.fields[f], nullptr,
            &restored.records[j][f]);
    if (!files.FileExists(csv)) rows = "Folder,Table,Change,Key,Field,Damaged,Backup\r\n" + rows;
    if (const int error = files.AppendToFile(csv, rows); error != 0)
      throw std::runtime_error("cannot write " + csv + " (error " + std::to_string(error) + ")");
    record.lostByRestore = report::LostByRestoreRecord{d.onlyDamaged.size(), d.differing.size(),
                                                       d.onlyBackup.size(), csv};
    TellTechnician("restoring " + name + " lost " + std::to_string(d.onlyDamaged.size()) +
                   " records only in the damaged table and the values of " +
                   std::to_string(d.differing.size()) + " that differ; the backup holds " +
                   std::to_string(d.onlyBackup.size()) + " the damaged table had not; see " + csv);
  } catch (const std::exception& e) {
    TellTechnician("what restoring " + name + " lost could not be found: " + e.what());
  }
}

}  // namespace zel::repair
