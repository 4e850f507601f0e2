#pragma once
// The structure of every ZelPos table: fields, primary key and named indexes. One table of
// definitions serves the Files and Index libraries and the demo-station builder.
#include <string_view>
#include <vector>

#include "engine/TableDefinition.h"

namespace zel::creators {

struct TableSchema {
  std::string_view folder;  // data folder, upper case
  std::string_view table;   // base file name, upper case
  engine::TableDef def;
};

// The 61 catalogue tables and the control table DUMMYDISP, folder by folder.
const std::vector<TableSchema>& Schemas();

// The schema of (folder, table): folder without regard to case, table exactly; nullptr if none.
// The same table name in two folders has two unrelated schemas.
const TableSchema* FindSchema(std::string_view folder, std::string_view table);

}  // namespace zel::creators
