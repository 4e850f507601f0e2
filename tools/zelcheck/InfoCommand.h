#pragma once
// zelcheck --info TABLE.DB: the table's header facts and the secondary indexes beside it.
#include "tools/zelcheck/Options.h"

namespace zel::zelcheck {

int RunInfo(const Options& options);

}  // namespace zel::zelcheck
