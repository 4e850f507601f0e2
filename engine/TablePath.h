#pragma once
// Where the table object finds its files.
#include <filesystem>
#include <string>

namespace zel::engine {

// The data folder an alias names (DISPDATA, CONFIGDATA, HISTORY, TEMPDATA, PERMDATA, matched
// without regard to case), or "" when it names none.
std::string AliasFolder(const std::string& alias);

// The host path of a table's .DB: "NAME.db" under the alias's folder C:\ZELPOS\<FOLDER>\, or a
// full Windows path without extension (".DB" appended) whatever the alias; case resolved
// through the drive mapping. Raises "Unknown database" for an unknown alias.
std::filesystem::path ResolveTablePath(const std::string& databaseName,
                                       const std::string& tableName);

// C:\PDOXUSRS.NET on the host.
std::filesystem::path NetworkControlFile();

}  // namespace zel::engine
