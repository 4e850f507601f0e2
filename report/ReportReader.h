#pragma once
// A report read back, for the technician's commands that work on what a run did: its kind, the
// run it worked on, and per table the repair with its kept files and manifest. Facts the
// commands do not use (times, Step 1, index tests) are not read.
#include <stdexcept>
#include <string>

#include "report/RunReport.h"

namespace zel::report {

// A report that cannot be read as one; the message names the file and what is wrong.
class ReportReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses `document`; `file` only names it in errors. Reports older than the kept files and
// manifests read with those lists empty.
RunReport ParseReport(const std::string& document, const std::string& file);

// The kind named in a document ("run", "check", "put-back", "undo", "rebuild").
const char* KindName(ReportKind kind);

}  // namespace zel::report
