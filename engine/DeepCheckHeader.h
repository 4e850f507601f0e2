#pragma once
// The header's own figures against the file and against the table's level: the blocks the file
// holds against the block count, the first block, the encryption and version fields, the field
// types and sort directions the level has.
#include "engine/DeepCheckFile.h"
#include "engine/DeepCheckProblems.h"
#include "engine/ParadoxFormat.h"

namespace zel::engine::deep {

// Adds each figure of `header` (read from `file`) that disagrees to `problems`.
void CheckHeaderFigures(const ReadOnlyFile& file, const px::Header& header, Problems& problems);

}  // namespace zel::engine::deep
