#pragma once
// zelutil-console --undo RUN: every table file that run (or a technician's command) replaced,
// deleted or made is put back as it was, from the files it kept, atomically per table, once
// every such file is checked against the run's manifest: a table changed since stops the undo
// before anything is touched. Lock files, the log and reports stay. The undo keeps the files it
// replaces and writes its own report, so an undo can be undone.
#include <string>

#include "technician/TechnicianContext.h"

namespace zel::technician {

// One line per table; the exit status as PutBack's.
int Undo(TechnicianContext& context, const std::string& run);

}  // namespace zel::technician
