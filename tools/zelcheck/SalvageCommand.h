#pragma once
// zelcheck --salvage DAMAGED.DB --to NEW.DB [--like TEMPLATE.DB]: every record that can be read
// from a damaged table into a new table and a CSV file.
#include "tools/zelcheck/Options.h"

namespace zel::zelcheck {

int RunSalvage(const Options& options);

}  // namespace zel::zelcheck
