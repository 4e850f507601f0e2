#pragma once
// Writing Paradox tables: create with records, rebuild the indexes of an existing table. Every
// write goes to temporary files that are renamed into place only when complete, so a failure
// leaves the old files as they were. Raises EngineError naming the file on failure.
#include <filesystem>
#include <functional>
#include <optional>

#include "engine/TableDefinition.h"

namespace zel::engine {

// Yields the next record, or nothing at the end. Lets a builder stream millions of records.
using RecordSource = std::function<std::optional<Record>()>;

// Writes `dbFile` (host path, e.g. .../GRADE.DB) and, for a keyed table, its .PX and the files of
// every secondary index in `def`. Keyed tables are sorted by key; a duplicate key raises
// "Key violation". Existing files of the table are replaced only when all are written.
void CreateTable(const std::filesystem::path& dbFile, const TableDef& def,
                 const RecordSource& records);
void CreateTable(const std::filesystem::path& dbFile, const TableDef& def,
                 const std::vector<Record>& records = {});

// Rebuilds the .PX and the given secondary indexes of an existing keyed table from its records,
// with stamps that match the table. The .DB must be readable and sound; otherwise raises and
// leaves every file as it was.
void RebuildIndexes(const std::filesystem::path& dbFile,
                    const std::vector<SecondaryIndexDef>& indexes);

}  // namespace zel::engine
