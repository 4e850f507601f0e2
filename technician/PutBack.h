#pragma once
// zelutil-console --put-back RUN [--master TABLE]: the records a run's salvage read from each
// current-shift table it replaced by a new empty one are appended to the live table, which may
// hold the next sales by now. With --master, the one master table the run restored from a
// backup gets the records that were only in its damaged copy (those Lost-by-restore.csv lists
// as such), once the technician has read that list.
#include <optional>
#include <string>

#include "technician/TechnicianContext.h"

namespace zel::technician {

struct PutBackOptions {
  std::string run;                    // a report, a run's folder, or "latest"
  std::optional<std::string> master;  // "TABLE" or "FOLDER\TABLE"
};

// One line per table on the context's output; refusals and failures on its error stream. The
// exit status: kTechnicianOk, kTechnicianPartly when a table was refused or failed,
// kTechnicianRefused when nothing was changed because the command was refused.
int PutBack(TechnicianContext& context, const PutBackOptions& options);

}  // namespace zel::technician
