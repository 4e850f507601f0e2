#pragma once
// What the repair operations share: the live paths of a table's files, the check that decides
// whether a table may be replaced at all, and the deletion of a table's file set.
#include <array>
#include <string>

#include "report/RunReport.h"

class TForm1;

namespace zel::platform {
class WindowsFiles;
}

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

// The swap of a replacement, once every new file waits complete and synced in the table's folder:
// for each file of kTableFileSet, the indexes first and the data file last, the file staged for
// it (a Windows path in the same folder; "" for none) is renamed over the live one, and a live
// file with nothing staged for it is deleted. A failure stops the swap before the data file, so
// an old index never pairs with new data unnoticed and a table whose data file is still the old
// one keeps failing its test. `removed` tells which live files were replaced or removed; a
// staged file that was moved is cleared from `staged`, and those left are deleted. The folder is
// synced. True when every file was swapped.
bool SwapInTableFiles(platform::WindowsFiles& files, const std::string& folder,
                      const std::string& table,
                      std::array<std::string, kTableFileSet.size()>& staged,
                      const std::array<bool, kTableFileSet.size()>& existed,
                      std::array<bool, kTableFileSet.size()>& removed);

// Every file of a table a repair may delete, replace or create: kTableFileSet and the .VAL.
inline constexpr std::array<const char*, 9> kKeptFileSet = {".DB",  ".PX",  ".XG0", ".XG1", ".XG2",
                                                            ".YG0", ".YG1", ".YG2", ".VAL"};

// Notes in `record` that the table's file `name` (its live Windows path `live`) was kept at
// `keptPath` ("" when it did not exist) before a repair touched it. Only the first keeping of a
// name counts: it is the file as it was before the run.
void NoteKeptFile(report::RepairRecord& record, const std::string& name,
                  const std::string& keptPath);

// The manifest of what a repair left: name, size and SHA-256 of every file of kKeptFileSet the
// table has now. A file that cannot be read is left out, so an undo will stop at it.
std::vector<report::ManifestEntry> ManifestOf(platform::WindowsFiles& files,
                                              const std::string& folder, const std::string& table);

// One line on standard error for the technician; the lists stay as the operator knows them.
void TellTechnician(const std::string& text);

}  // namespace zel::repair
