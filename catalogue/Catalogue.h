#pragma once
// The fixed knowledge of the ZelPos database: data folders, the 61 tables in check order, the
// indexes a test opens, creators, repair paths and replacement warnings. Qt-free.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "creators/CreatorExport.h"

namespace zel::catalogue {

enum class RepairPath { Transient, Kept };

struct TableEntry {
  std::string_view folder;  // upper case, e.g. "HISTORY"
  std::string_view table;   // e.g. "PUMPHIST"
  int position;             // 1-based place in the folder's check order
  std::array<std::string_view, 2> namedIndexes;  // tested after the primary, empty when unused
  RepairPath repairPath;
  std::string_view tableCreator;  // Files entry point, always present
  std::string_view indexCreator;  // Index entry point, empty when none
  int warning;                    // 1..30 (W1..W30), 0 when none
};

inline constexpr std::string_view kDataRoot = "C:\\ZELPOS\\";
inline constexpr std::string_view kControlFolder = "DISPDATA";
inline constexpr std::string_view kControlTable = "DUMMYDISP";

// The five data folders in Step 2's check order: DISPDATA, CONFIGDATA, HISTORY, TEMPDATA, PERMDATA.
const std::array<std::string_view, 5>& CheckOrder();
// Step 1's order: DISPDATA, PERMDATA, CONFIGDATA, TEMPDATA, HISTORY.
const std::array<std::string_view, 5>& LockResetOrder();

// All 61 entries, folder by folder in check order.
const std::vector<TableEntry>& Entries();
// A folder's entries in check order; the folder matched without regard to case.
std::vector<const TableEntry*> FolderTables(std::string_view folder);
// The entry of (folder, table): folder without regard to case, table exactly; nullptr if none.
const TableEntry* FindEntry(std::string_view folder, std::string_view table);
// The text of warning W<key>, empty for 0 or an unknown key.
std::string_view WarningText(int key);

// "Replace file : " + folder + " " + table + LF CR + warning; `text` left as passed when the pair
// has no warning or is not in the catalogue.
void GetReplaceWarning(const std::string& folder, const std::string& table, std::string& text);

using CreatorProc = void(ZEL_CREATOR_CALL*)();
// The bound entry point of the Files (table) or Index creator of (folder, table), or nullptr.
CreatorProc TableCreator(std::string_view folder, std::string_view table);
CreatorProc IndexCreator(std::string_view folder, std::string_view table);

}  // namespace zel::catalogue
