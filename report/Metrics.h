#pragma once
// A run's or a check's outcome in the text format of node_exporter's textfile collector, so a
// fleet's Prometheus sees which till has which unusable table before the shift opens.
#include <chrono>
#include <string>
#include <string_view>

#include "report/RunReport.h"

namespace zel::report {

// What a table came to in the end: "usable", "unusable", "skipped", "repaired" (indexes
// rebuilt), "replaced" (a new empty table) or "restored" (from a shift backup).
std::string_view TableState(const TableRecord& table);

// The metrics of one run ("run") or check ("check"), ended at `finished` after `duration`.
std::string MetricsText(const RunReport& report, std::string_view kind,
                        std::chrono::system_clock::time_point finished,
                        std::chrono::duration<double> duration, int exitStatus);

// `fresh` with the samples of `existing` (an earlier file) that belong to the other kind kept,
// so one file shows both the last run and the last check.
std::string MergeMetrics(const std::string& existing, const std::string& fresh,
                         std::string_view kind);

}  // namespace zel::report
