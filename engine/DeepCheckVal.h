#pragma once
// The structure of a .VAL file (level 4 and later): a head with the table's definition counter
// and version, the offsets of the footer and of the referential-integrity part, and a footer
// that repeats the table's field list (count, field numbers, descriptors, table name, field
// names). Files of the 3.x levels have an older layout that is not known; they are not checked.
#include <filesystem>
#include <string>

#include "engine/DeepCheckProblems.h"
#include "engine/ParadoxFormat.h"

namespace zel::engine::deep {

// Adds what is wrong with the structure of `valFile` to `problems`; false with the reason in
// `skipped` when its layout is not one this check knows.
bool CheckValStructure(const std::filesystem::path& valFile, const px::Header& table,
                       Problems& problems, std::string& skipped);

}  // namespace zel::engine::deep
