#pragma once
// A till's history for a technician: one line per run or check report, newest first, and the
// tables that keep breaking (a repair needed in more than one of the last ten runs, the sign of
// a failing disk or power supply). Reading the files is the caller's (HistoryFolders.h); this
// only makes sense of their bytes. No toolkit.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zel::technician {

// How many runs the "keeps breaking" count looks back over.
inline constexpr std::size_t kKeepsBreakingRuns = 10;

// One report file as the caller found it: its bytes, or why they could not be read.
struct ReportSource {
  std::string path;    // as the technician should see it (Windows path under drive C:)
  std::string bytes;   // the file's content when read
  std::string reason;  // why it could not be read; empty when it was
};

// What one report says.
struct HistoryEntry {
  std::string path;
  std::string started;  // as the report writes it (ISO 8601 with offset)
  std::chrono::sys_seconds startedAt{};
  std::string kind;  // "run" or "check"
  int exitStatus = 0;
  int tested = 0;
  int unusable = 0;
  int repaired = 0;
  int replaced = 0;
  int restored = 0;
  // Every table that needed a repair: its first test failed ("FOLDER\TABLE").
  std::vector<std::string> needingRepair;
};

struct UnreadableReport {
  std::string path;
  std::string reason;
};

struct KeepsBreaking {
  std::string table;  // "FOLDER\TABLE"
  int runs = 0;       // of the last runs counted
};

struct History {
  std::vector<HistoryEntry> entries;  // newest first
  std::vector<UnreadableReport> unreadable;
  std::vector<KeepsBreaking> keepsBreaking;  // most often first
  std::size_t runsCounted = 0;               // the runs the count looked at (at most ten)
  std::vector<std::string> notes;            // the caller's: a folder with no reports yet
};

// "2026-12-10T17:22:19+01:00" as a point in time; nullopt when it is not that form.
std::optional<std::chrono::sys_seconds> ParseIsoTime(const std::string& text);

// The entry a report's bytes describe; nullopt with `reason` when they are not a complete run
// report (a file cut short, another JSON document).
std::optional<HistoryEntry> ReadHistoryEntry(const ReportSource& source, std::string& reason);

// All sources read, sorted newest first, the unreadable ones kept with their reason. Only runs
// count towards "keeps breaking": a check repairs nothing, so the run after it would count the
// same breakage twice.
History MakeHistory(const std::vector<ReportSource>& sources, std::vector<std::string> notes = {});

// The technician's lines; every text read from a file is escaped.
std::string HistoryText(const History& history);

// The same facts as one JSON document.
std::string HistoryJson(const History& history);

}  // namespace zel::technician
