#pragma once
// How a run ended, as one number: the console's exit status, and the report's "exitStatus" for
// the window's runs too.
namespace zel::report {

inline constexpr int kExitOk = 0;       // every table tested in the end usable, none skipped
inline constexpr int kExitTables = 1;   // a table stayed unusable or was skipped
inline constexpr int kExitStepOne = 2;  // Step 1 failed
inline constexpr int kExitError = 3;    // an error ended the run

inline int RunExitStatus(bool errorEnded, bool stepOk, int tablesUnusable, int tablesSkipped) {
  if (errorEnded) return kExitError;
  if (!stepOk) return kExitStepOne;
  if (tablesUnusable > 0 || tablesSkipped > 0) return kExitTables;
  return kExitOk;
}

// A check-only run repairs nothing and skips nothing: 1 as soon as one table is unusable.
inline int CheckOnlyExitStatus(bool errorEnded, int tablesUnusable) {
  if (errorEnded) return kExitError;
  return tablesUnusable > 0 ? kExitTables : kExitOk;
}

}  // namespace zel::report
