#pragma once
// zelcheck --locks FOLDER [--json]: the Paradox lock files in a folder, each with its size,
// whether it is in use by the test the run makes before deleting one, and which process uses it.
#include "tools/zelcheck/Options.h"

namespace zel::zelcheck {

int RunLocks(const Options& options);

}  // namespace zel::zelcheck
