// TForm1's run report: a JSON file per run in C:\ZelPos\ZelUtil.Reports (or a file the front end
// names), written when the run ends and before anything may power the PC off.
#include <cstdio>
#include <exception>
#include <filesystem>

#include "platform/DriveMapping.h"
#include "platform/EscapeText.h"
#include "report/ExitStatus.h"
#include "report/ReportFolder.h"
#include "report/ReportWriter.h"
#include "run/MainScreen.h"
#include "steps/Step1Targets.h"
#include "zel/Version.h"

namespace {

// Made inside C:\ZelPos when missing; C:\ZelPos itself never is.
constexpr const char* kReportFolder = "C:\\ZelPos\\ZelUtil.Reports";

}  // namespace

int TForm1::ExitStatus() const {
  if (Report.checkOnly)
    return zel::report::CheckOnlyExitStatus(Summary.errorEnded, Summary.tablesUnusable);
  return zel::report::RunExitStatus(Summary.errorEnded, StepOk, Summary.tablesUnusable,
                                    Summary.tablesSkipped);
}

void TForm1::WriteRunReport() {
  // A run refused at its start (another run in progress) touches nothing, and a check writes
  // only where it was told to.
  if (!reporting_ || (Report.checkOnly && reportFile_.empty())) return;
  try {
    if (Report.program.empty()) Report.program = "zelutil";
    Report.version = zel::kVersion;
    if (!tillRead_) ReadTill();
    if (!Report.checkOnly) {
      Report.step1.ok = StepOk;
      // The lock files Step 1 did not come to are reported as they are.
      zel::steps::RecordUntouchedLockFiles(platform().files, Report.step1.lockFiles);
    }
    Report.finished = platform().system.Now();
    Report.exitStatus = ExitStatus();
    const std::string document = zel::report::ReportDocument(Report);

    if (!reportFile_.empty()) {
      zel::report::WriteReport(reportFile_, document);
    } else if (!reportWrittenTo_.empty()) {
      zel::report::WriteReport(reportWrittenTo_, document);
    } else {
      const std::filesystem::path folder = zel::platform::MapWindowsPath(kReportFolder);
      zel::report::EnsureReportFolder(folder);
      reportWrittenTo_ = zel::report::PublishReport(folder, Report.started, document).string();
      zel::report::KeepNewestReports(folder);
    }
  } catch (const std::exception& error) {
    // The report is for the technician; the run's outcome stays what it was.
    std::fprintf(stderr, "zelutil: %s\n", zel::platform::EscapeControls(error.what()).c_str());
  } catch (...) {
    std::fprintf(stderr, "zelutil: the run report could not be written\n");
  }
}
