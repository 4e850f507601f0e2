#pragma once
// A table's files as a command found them and as it leaves them: the check against a report's
// manifest, the keeping of the live files before a change, and the change itself, atomic per
// table through the repair's swap of staged files.
#include <map>
#include <string>
#include <vector>

#include "report/RunReport.h"
#include "technician/TechnicianContext.h"

namespace zel::technician {

// "" when every file `repair` touched is now as its manifest says (present with that size and
// SHA-256, or absent when the manifest lacks it); else the first file that changed since, and how.
std::string ChangedSince(platform::WindowsFiles& files, const std::string& folder,
                         const report::RepairRecord& repair);

// The command's own folder under C:\ZelPos\ZelUtil.Damaged (its time, then `what`), made and
// durable; raises TechnicianError.
std::string MakeCommandFolder(TechnicianContext& context, const std::string& what);

// Keeps the table's live files named in `names` ("ATTLOG.DB", ...) in the data folder's folder
// under `commandFolder` (a second name, else a copy), and notes each in `record` as kept or, when
// missing, as touched. Raises TechnicianError when one cannot be kept: then nothing of the table
// may change.
void KeepLiveFiles(platform::WindowsFiles& files, const std::string& commandFolder,
                   const std::string& folder, const std::string& table,
                   const std::vector<std::string>& names, report::RepairRecord& record);

// Puts in place of each live file named in `sources` the file at the Windows path given, or
// removes it for "": first every new file is copied in beside the table under a temporary name
// (".zelcopy-<mark>-TABLE.EXT") and synced, then they are swapped in, the data file last.
// Raises TechnicianError naming the file when a copy fails (the table is then as it was) or the
// swap stopped (a rerun of ZelUtil heals the table from its data file).
void ReplaceLiveFiles(platform::WindowsFiles& files, const std::string& folder,
                      const std::string& table, const std::map<std::string, std::string>& sources,
                      const std::string& mark);

}  // namespace zel::technician
