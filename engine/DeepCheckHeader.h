#pragma once
// The header's own figures against the file and against the table's level: the blocks the file
// holds against the block count, the first block, the encryption and version fields, the field
// types and sort directions the level has.
#include "engine/DeepCheckFile.h"
#include "engine/DeepCheckProblems.h"
#include "engine/ParadoxFormat.h"

namespace zel::engine::deep {

// Adds each figure of `header` (read from `file`) that disagrees to `problems`, and to `notes`
// what is only an allocation detail (spare blocks past the counted ones).
void CheckHeaderFigures(const ReadOnlyFile& file, const px::Header& header, Problems& problems,
                        Problems& notes);

}  // namespace zel::engine::deep
