#pragma once
// What the repair operations share: the live paths of a table's files, the check that decides
// whether a table may be replaced at all, and the deletion of a table's file set.
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
// "c:\zelpos\" + folder + "\".
std::string LiveFolder(const std::string& folder);

// True when the table's data file is sound although the table failed its test after a
// re-index: then its records are the newest there are, and only its indexes could not be
// rebuilt (a full disk, an I/O error, a lock). Such a table must never be replaced; the reason
// goes to standard error for the technician, and a later run heals it.
bool KeepSoundTable(const std::string& folder, const std::string& table);

// Adds the "Deleting Old Table" line, saves the table's files for salvage and, only when they
// are saved, deletes the file set with one flag carried from file to file; each file the flag
// marks gives one "Delete ... ....Failed" line. lst2 is repainted at the end. False when the
// files could not be saved: then nothing is deleted.
bool DeleteTableFileSet(TForm1& form, const std::string& folder, const std::string& table);

// The "Delete ... ....Failed" lines for a file set that was to be removed: `existed` says which
// files of kTableFileSet were there, `removed` which of those are gone. A missing file keeps
// the outcome of the file before it (set once, false at the start).
void AddDeletionLines(TForm1& form, const std::string& folder, const std::string& table,
                      const std::array<bool, kTableFileSet.size()>& existed,
                      const std::array<bool, kTableFileSet.size()>& removed);

// One line on standard error for the technician; the lists stay as the operator knows them.
void TellTechnician(const std::string& text);

}  // namespace zel::repair
