#pragma once
// zelcheck TABLE.DB [--index NAME]... [--json]: the table under its primary index, then under
// each named secondary index, as the table engine opens it.
#include "tools/zelcheck/Options.h"

namespace zel::zelcheck {

int RunVerify(const Options& options);

}  // namespace zel::zelcheck
