#pragma once
// Writing Paradox tables: create with records, rebuild the indexes of an existing table. Every
// write goes to temporary files that are renamed into place only when complete, so a failure
// leaves the old files as they were. Raises EngineError naming the file on failure.
#include <filesystem>
#include <functional>
#include <optional>

#include "engine/TableDefinition.h"

namespace zel::engine {

// Codes of the writer's own failures (I/O failures use ErrorCode::WriteFailed, a damaged
// table the codes of the reader).
namespace WriterErrorCode {
inline constexpr int KeyViolation = 0x2601;       // "Key violation"
inline constexpr int InvalidDefinition = 0x2701;  // a field, key or index the writer cannot store
inline constexpr int InvalidValue = 0x2702;       // a record value that does not fit its field
inline constexpr int NotKeyed = 0x2703;           // indexes asked of a table without a key
}  // namespace WriterErrorCode

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
