// The health test of one table: open it under its primary index and each named index given.
// AddLine shows each line at once, so no list is repainted again here.
#include <array>
#include <optional>
#include <string>

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "platform/DriveMapping.h"
#include "report/ReportPaths.h"
#include "run/MainScreen.h"

namespace {

zel::report::ErrorRecord ErrorOf(const std::exception& error) {
  if (const auto* engine = dynamic_cast<const zel::engine::EngineError*>(&error)) {
    return {engine->Code(), engine->Message(),
            engine->File().empty()
                ? std::string()
                : zel::report::WindowsPathOf(engine->File(), zel::platform::DriveCRoot())};
  }
  return {std::nullopt, error.what(), {}};
}

// A check may meet a table while ZelPos is writing it: a table that fails is tested again after
// this pause before it is called unusable. The pauses of one check add up to at most
// kRetestPauseBudgetMs; a table failing after that is tested again at once.
constexpr int kRetestPauseMs = 500;
constexpr int kRetestPauseBudgetMs = 3000;

// One open attempt under one index; false (after its lst2 line, unless `quiet`) when anything
// in it failed. Its outcome is added to `tested` for the run report.
bool OpenUnderIndex(TForm1& form, const std::string& folder, const std::string& table,
                    const std::string& index, std::vector<zel::report::IndexRecord>& tested,
                    bool quiet = false) {
  auto& session = zel::engine::Session::Default();
  std::optional<zel::report::ErrorRecord> failure;
  try {
    session.Open();
    form.tbl1.SetIndexName(index);
    form.tbl1.SetDatabaseName(folder);
    form.tbl1.SetTableName(table + ".db");
    form.tbl1.Open();
    form.tbl1.Close();
    session.Close();
    tested.push_back({index, true, std::nullopt});
    return true;
  } catch (const std::exception& error) {
    failure = ErrorOf(error);
  } catch (...) {
    failure = zel::report::ErrorRecord{std::nullopt, "unknown error", {}};
  }
  {
    // The engine's reason is not shown; the line names the table and the index.
    if (!quiet)
      form.AddLine(form.lst2,
                   "Test on " + folder + "\\" + table + "\\Index->" + index + " ....Failed");
    form.tbl1.Close();
    session.Close();
    tested.push_back({index, false, std::move(failure)});
    return false;
  }
}

}  // namespace

bool TForm1::TestTable(const std::string& folder, const std::string& table,
                       const std::string& index1, const std::string& index2,
                       const std::string& index3, const std::string& index4) {
  bool result = false;
  try {
    RefreshForm();
    if (table.empty()) return false;

    result = true;
    lastTest_.clear();
    // A check opens read-only: no lock file is made, and leftovers of a crash do not count.
    std::optional<zel::engine::InspectOnlyScope> readOnly;
    if (Report.checkOnly) readOnly.emplace(tbl1);
    const std::string line = "Testing " + folder + " " + table + " File.........";

    // The first slot is always tried (empty is the primary index); an empty later slot passes.
    const auto testSlots = [&](bool quiet) {
      lastTest_.clear();
      std::array<bool, 4> passed{false, true, true, true};
      passed[0] = OpenUnderIndex(*this, folder, table, index1, lastTest_, quiet);
      const std::array<const std::string*, 3> later{&index2, &index3, &index4};
      for (std::size_t slot = 0; slot < later.size(); ++slot) {
        if (!later[slot]->empty())
          passed[slot + 1] = OpenUnderIndex(*this, folder, table, *later[slot], lastTest_, quiet);
      }
      return passed;
    };
    std::array<bool, 4> passed{};
    lastRetested_ = false;
    if (Report.checkOnly) {
      // A check tests quietly first; a table that fails is tested again after a pause, and only
      // that second test's lines are shown.
      passed = testSlots(true);
      if (!(passed[0] && passed[1] && passed[2] && passed[3])) {
        lastRetested_ = true;
        if (retestPausedMs_ < kRetestPauseBudgetMs) {
          platform().system.Sleep(kRetestPauseMs);
          retestPausedMs_ += kRetestPauseMs;
        }
        AddLine(lst1, line);
        passed = testSlots(false);
      } else {
        AddLine(lst1, line);
      }
    } else {
      AddLine(lst1, line);
      passed = testSlots(false);
    }

    if (passed[0] && passed[1] && passed[2] && passed[3]) {
      result = true;
      TablesOk = true;
      AddLine(lst1, line + "Done");
      MakeLastLineCurrent(lst1);
    } else {
      AddLine(lst1, line + "Failed");
      result = false;
      TablesOk = false;
      MakeLastLineCurrent(lst1);
      AddLine(lst3, table + "," + folder);
    }
    StepProgress();
  } catch (...) {
    // Anything else ends the test where it stands; the result is what was known then.
  }
  return result;
}
