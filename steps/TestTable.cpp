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

// One open attempt under one index; false (after its lst2 line) when anything in it failed.
// Its outcome is added to `tested` for the run report.
bool OpenUnderIndex(TForm1& form, const std::string& folder, const std::string& table,
                    const std::string& index, std::vector<zel::report::IndexRecord>& tested) {
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
    AddLine(lst1, line);

    // The first slot is always tried (empty is the primary index); an empty later slot passes.
    std::array<bool, 4> passed{false, true, true, true};
    passed[0] = OpenUnderIndex(*this, folder, table, index1, lastTest_);
    const std::array<const std::string*, 3> later{&index2, &index3, &index4};
    for (std::size_t slot = 0; slot < later.size(); ++slot) {
      if (!later[slot]->empty())
        passed[slot + 1] = OpenUnderIndex(*this, folder, table, *later[slot], lastTest_);
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
