#pragma once
// The run report as a JSON document, and its durable write: a power-off may follow at once, so
// the file is complete and on disk, under its name, before the write returns.
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "report/RunReport.h"

namespace zel::report {

// A report that could not be written; the message names the file and the reason.
class ReportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ISO 8601 local time with its offset from UTC: "2026-12-10T17:22:19+01:00".
std::string IsoTime(std::chrono::system_clock::time_point time);

// The document, keys in a fixed order, indented, ending in a line end.
std::string ReportDocument(const RunReport& report);

// Writes `document` to `file`: first to a temporary file beside it, synced, then renamed over
// `file` and the folder synced, so `file` is never seen half written. Raises ReportError.
void WriteReport(const std::filesystem::path& file, const std::string& document);

// Another way to write a report file named by the front end: returns true when it wrote `file`,
// false to leave it to WriteReport; raises ReportError when it tried and failed. A run that left
// root has root write a file named outside the till user's prefix this way.
using ReportOutput =
    std::function<bool(const std::filesystem::path& file, const std::string& document)>;
void SetReportOutput(ReportOutput output);

// As WriteReport, but never replaces: false, with nothing left behind, when `file` exists.
bool WriteNewReport(const std::filesystem::path& file, const std::string& document);

// The temporary files these writes use start with "." and hold this mark; one left by a write
// cut short can be removed.
inline constexpr const char* kTemporaryMark = ".zeltmp-";

}  // namespace zel::report
