#pragma once
// Every record of a sound table as field values, in chain order, with the fields as the header
// names them: what a merge of two tables' records compares and writes. Only reads, takes no
// lock. A table whose chain does not hold its header's count is refused, never half read.
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ParadoxFormat.h"
#include "engine/TableDefinition.h"

namespace zel::engine {

struct TableRecords {
  px::Header header;
  std::vector<FieldDef> fields;
  int keyFieldCount = 0;  // 0: a heap
  std::vector<Record> records;
};

// Raises EngineError naming the file when it is missing, its header cannot be read, it is
// encrypted, a field type cannot be read as a value, or its chain is broken.
TableRecords ReadTableRecords(const std::filesystem::path& dbFile);

// A value as text for a technician's CSV: blank as "", numbers in C's notation, text as it is
// stored (in the table's code page, decoded to UTF-8 by `codePage`), bytes in hex.
std::string ValueText(const FieldDef& field, const FieldValue& value, int codePage);

}  // namespace zel::engine
