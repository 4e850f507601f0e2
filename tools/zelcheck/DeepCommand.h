#pragma once
// zelcheck --deep TABLE.DB: everything an open checks, and what it never looks at (header
// figures, field values, BLOB pointers, secondary index entries, the .VAL's structure). Prints
// up to 20 problems, each with its file, block and record.
#include "tools/zelcheck/Options.h"

namespace zel::zelcheck {

int RunDeep(const Options& options);

}  // namespace zel::zelcheck
