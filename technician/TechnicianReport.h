#pragma once
// The report a technician's command leaves in C:\ZelPos\ZelUtil.Reports, beside the runs': its
// kind, the run it worked on and per table what it changed, with kept files and manifest, so that
// it can be undone in its turn.
#include <filesystem>
#include <string>

#include "report/RunReport.h"
#include "technician/TechnicianContext.h"

namespace zel::technician {

// A report of `kind` on the run reported in `source`, started now.
report::RunReport NewCommandReport(TechnicianContext& context, report::ReportKind kind,
                                   const std::filesystem::path& source);

// Finishes and writes it; the path written. A report that cannot be written is told on the
// context's error stream and "" returned: the tables' changes stand.
std::string PublishCommandReport(TechnicianContext& context, report::RunReport& report,
                                 int exitStatus);

void TellCommandError(TechnicianContext& context, const std::string& what);

// One step of a command (a table's part, or the set-up): a TechnicianError it raises is named on
// the context's error stream and returned as false, so the command goes on with the next table.
template <typename Step>
bool NamedOnFailure(TechnicianContext& context, Step&& step) {
  try {
    step();
    return true;
  } catch (const TechnicianError& e) {
    TellCommandError(context, e.what());
    return false;
  }
}

// Publishes the report and names it on the context's output; `exitStatus` back.
int EndCommand(TechnicianContext& context, report::RunReport& report, int exitStatus);

}  // namespace zel::technician
