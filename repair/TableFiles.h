#pragma once
// What the repair operations share: the live paths of a table's files and the deletion of a
// table's file set before it is replaced.
#include <array>
#include <string>

class TForm1;

namespace zel::repair {

// A table's file set as a replacement deletes it: the data file, the primary index and the
// named-index pairs (the .VAL goes with the indexes).
inline constexpr std::array<const char*, 8> kTableFileSet = {".DB",  ".PX",  ".XG0", ".XG1",
                                                             ".XG2", ".YG0", ".YG1", ".YG2"};

// "c:\zelpos\" + folder + "\" + table + extension.
std::string LivePath(const std::string& folder, const std::string& table,
                     const std::string& extension);

// Adds the "Deleting Old Table" line, saves the table's files for salvage, then deletes the
// file set with one flag carried from file to file; each file the flag marks gives one
// "Delete ... ....Failed" line. lst2 is repainted at the end.
void DeleteTableFileSet(TForm1& form, const std::string& folder, const std::string& table);

}  // namespace zel::repair
