#pragma once
// zelutil-console --history: the till's run and check reports listed for a technician.
#include <iosfwd>

#include "tools/console/Console.h"

namespace zel::console {

// The station's run reports (C:\ZelPos\ZelUtil.Reports) and the check reports of
// options.historyDir, else /var/lib/zelutil/<this user>, where zelutil-check@<user> writes them.
// Prints the history as text or JSON on `out`. Exit 0, or 1 when a report or a folder could not
// be read (each is listed with its reason).
int RunHistory(const Options& options, std::ostream& out);

}  // namespace zel::console
