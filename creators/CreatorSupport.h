#pragma once
// What the entry points of the Files and Index libraries do, named by table. Nothing here
// throws: a failure is reported on stderr as "ZelUtil creator <entry>: <what failed> on <file>".
#include <filesystem>
#include <initializer_list>
#include <string_view>

namespace zel::creators {

struct TableRef {
  std::string_view folder;
  std::string_view table;
};

// Host path of a table's .DB in its data folder (C:\ZELPOS\<folder>\<table>.DB).
std::filesystem::path TableFile(std::string_view folder, std::string_view table);

// Writes a new empty copy of each table whose .DB is absent, with all its index files. A table
// whose .DB exists is left alone. Returns true when every table exists afterwards.
bool CreateMissingTables(std::string_view entry, std::initializer_list<TableRef> tables) noexcept;

// Rebuilds the .PX and named indexes of a keyed table from its records. A missing or unreadable
// .DB leaves every file as it was. Returns true on success.
bool RebuildTableIndexes(std::string_view entry, TableRef table) noexcept;

}  // namespace zel::creators
