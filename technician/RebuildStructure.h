#pragma once
// Where a rebuild takes the table's structure from: the table's own header and index files;
// where the header is destroyed, a template (--like) or, for a table of the catalogue under a
// station's data folder, the definition its new empty table is made from.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/TableDefinition.h"

namespace zel::technician {

struct RebuildStructure {
  std::string from;            // "the table", the template's path, or the catalogue's FOLDER\TABLE
  std::filesystem::path like;  // the template for the salvage when the header is destroyed
  std::vector<engine::SecondaryIndexDef> indexes;
  int blockSize = 0;
  int definitionCount = 0;    // the counter the .VAL names (or the header holds); 0: none known
  std::string headerProblem;  // why the table's own header could not be read
  // The catalogue's template, written to a temporary folder removed with this object.
  std::shared_ptr<const std::filesystem::path> templateFolder;
};

// The station's data folder and table name when `db` is a catalogue table under
// ...\ZELPOS\<FOLDER>\ (empty folder otherwise).
struct StationTable {
  std::string folder, table;
  std::filesystem::path posFolder;  // ...\ZELPOS
};
StationTable FindStationTable(const std::filesystem::path& db);

// Raises RebuildRefused when no structure can be had or the writer cannot make it faithfully.
RebuildStructure FindRebuildStructure(const std::filesystem::path& db,
                                      const std::filesystem::path& like);

}  // namespace zel::technician
