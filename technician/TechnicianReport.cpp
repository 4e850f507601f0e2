#include "technician/TechnicianReport.h"

#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "report/ReportFolder.h"
#include "report/ReportWriter.h"
#include "zel/Version.h"

namespace zel::technician {

report::RunReport NewCommandReport(TechnicianContext& context, report::ReportKind kind,
                                   const std::filesystem::path& source) {
  report::RunReport r;
  r.kind = kind;
  r.program = "zelutil-console";
  r.version = kVersion;
  r.started = context.now();
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(source, ec);
  r.sourceReport = (ec ? source : absolute).string();
  return r;
}

std::string PublishCommandReport(TechnicianContext& context, report::RunReport& r, int exitStatus) {
  r.finished = context.now();
  r.exitStatus = exitStatus;
  try {
    const std::filesystem::path folder = platform::MapWindowsPath("C:\\ZelPos\\ZelUtil.Reports");
    report::EnsureReportFolder(folder);
    const std::filesystem::path written =
        report::PublishReport(folder, r.started, report::ReportDocument(r));
    report::KeepNewestReports(folder);
    return written.string();
  } catch (const std::exception& error) {
    context.err << "zelutil-console: " << platform::EscapeControls(error.what()) << "\n";
    return "";
  }
}

void TellCommandError(TechnicianContext& context, const std::string& what) {
  context.err << "zelutil-console: " << platform::EscapeControls(what) << "\n";
}

int EndCommand(TechnicianContext& context, report::RunReport& report, int exitStatus) {
  const std::string written = PublishCommandReport(context, report, exitStatus);
  if (!written.empty()) context.out << "report: " << platform::EscapeText(written) << "\n";
  return exitStatus;
}

}  // namespace zel::technician
