#include "creators/CreatorSupport.h"

#include <cstdio>
#include <exception>
#include <string>
#include <system_error>

#include "creators/Schemas.h"
#include "engine/EngineError.h"
#include "engine/TableWriter.h"
#include "platform/DriveMapping.h"

namespace zel::creators {
namespace {

void Report(std::string_view entry, const std::string& what, const std::string& file) noexcept {
  try {
    std::string line = "ZelUtil creator " + std::string(entry) + ": " + what + " on " + file + "\n";
    std::fputs(line.c_str(), stderr);
  } catch (...) {
    std::fputs("ZelUtil creator: out of memory while reporting a failure\n", stderr);
  }
}

// Reports the failure in flight, naming the engine's file when it has one.
void ReportCurrent(std::string_view entry, const std::string& action,
                   const std::filesystem::path& file) noexcept {
  try {
    throw;
  } catch (const engine::EngineError& e) {
    Report(entry, action + ": " + e.Message(), e.File().empty() ? file.string() : e.File());
  } catch (const std::exception& e) {
    Report(entry, action + ": " + e.what(), file.string());
  } catch (...) {
    Report(entry, action + ": unknown error", file.string());
  }
}

const TableSchema* SchemaOrReport(std::string_view entry, TableRef ref,
                                  const std::filesystem::path& file) noexcept {
  const TableSchema* schema = FindSchema(ref.folder, ref.table);
  if (schema == nullptr)
    Report(entry, "no layout known for " + std::string(ref.folder) + " " + std::string(ref.table),
           file.string());
  return schema;
}

}  // namespace

std::filesystem::path TableFile(std::string_view folder, std::string_view table) {
  return platform::MapWindowsPath("C:\\ZELPOS\\" + std::string(folder) + "\\" + std::string(table) +
                                  ".DB");
}

bool CreateMissingTables(std::string_view entry, std::initializer_list<TableRef> tables) noexcept {
  bool allThere = true;
  for (const TableRef& ref : tables) {
    std::filesystem::path file;
    try {
      file = TableFile(ref.folder, ref.table);
      std::error_code ec;
      if (std::filesystem::exists(file, ec)) continue;  // never overwrite a table
      if (ec) {
        Report(entry, "could not look for the table: " + ec.message(), file.string());
        allThere = false;
        continue;
      }
      const TableSchema* schema = SchemaOrReport(entry, ref, file);
      if (schema == nullptr) {
        allThere = false;
        continue;
      }
      // A missing data folder is made again rather than leaving the POS without its table.
      std::filesystem::create_directories(file.parent_path());
      engine::CreateTable(file, schema->def);
    } catch (...) {
      ReportCurrent(entry, "could not create the table", file);
      allThere = false;
    }
  }
  return allThere;
}

bool RebuildTableIndexes(std::string_view entry, TableRef ref) noexcept {
  std::filesystem::path file;
  try {
    file = TableFile(ref.folder, ref.table);
    const TableSchema* schema = SchemaOrReport(entry, ref, file);
    if (schema == nullptr) return false;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
      Report(entry, "could not rebuild the indexes: the table does not exist", file.string());
      return false;
    }
    engine::RebuildIndexes(file, schema->def.indexes);
    return true;
  } catch (...) {
    ReportCurrent(entry, "could not rebuild the indexes", file);
    return false;
  }
}

}  // namespace zel::creators
