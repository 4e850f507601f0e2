#pragma once
// zelcheck --rebuild TABLE.DB [--like TEMPLATE.DB]: the table rebuilt in place with every record
// salvage can read, its old files kept.
#include "tools/zelcheck/Options.h"

namespace zel::zelcheck {

int RunRebuild(const Options& options);

}  // namespace zel::zelcheck
