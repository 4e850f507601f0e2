#pragma once
// The last part of a rebuild: the new files, complete and synced in the staging folder, replace
// the table's files as a restore replaces them: the indexes and the .MB first, the data file
// last, every rename synced. A marker written before the first rename lets the next rebuild of
// the table finish a swap that a crash cut short, so that no mix of old and new files stays.
#include <filesystem>
#include <string>
#include <vector>

namespace zel::technician {

// Writes the marker naming the new files (the staging folder holds them, synced) and the data
// file they replace, `db`; from then on the swap is due.
void MarkSwapDue(const std::filesystem::path& db, const std::filesystem::path& staging,
                 const std::vector<std::string>& newFiles);

// True when `staging` holds a marker: an earlier swap is due or was cut short.
bool SwapDue(const std::filesystem::path& staging);

// Moves the staged new files over the table's files beside `db` (data file last), removes the
// table's old index files that have no new counterpart (the .VAL stays), syncs the folder and
// removes the staging folder. Raises std::runtime_error naming the file when a step fails;
// called again, it goes on where it stopped. A live data file that is neither the one the marker
// names nor the new one (something else replaced the table meanwhile) stops it, with nothing
// moved.
void SwapStagedFiles(const std::filesystem::path& db, const std::filesystem::path& staging);

}  // namespace zel::technician
