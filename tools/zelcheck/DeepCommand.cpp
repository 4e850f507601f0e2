#include "tools/zelcheck/DeepCommand.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "engine/DeepCheck.h"
#include "engine/EngineError.h"
#include "tools/zelcheck/ExitStatus.h"
#include "tools/zelcheck/ShownText.h"
#include "tools/zelcheck/TargetPaths.h"

namespace zel::zelcheck {

int RunDeep(const Options& options) {
  const std::filesystem::path table = HostPath(options.target);
  std::string why;
  if (!ReadableFile(table, why)) {
    std::cerr << "zelcheck: cannot read " << Shown(table.string()) << ": " << Shown(why) << "\n";
    return kBadUse;
  }
  zel::engine::DeepCheckResult r;
  try {
    r = zel::engine::DeepCheckTable(table);
  } catch (const zel::engine::EngineError& e) {
    std::cerr << "zelcheck: " << Shown(e.what()) << "\n";
    return kBadUse;
  }
  if (r.Clean()) {
    std::cout << Shown(table.string()) << ": clean\n";
  } else {
    const std::size_t n = r.problems.size();
    std::cout << Shown(table.string()) << ": damaged (" << n << (n == 1 ? " problem" : " problems")
              << (r.limitReached ? " shown, there may be more" : "") << ")\n";
    for (const zel::engine::DeepProblem& p : r.problems)
      std::cout << "  " << Shown(p.Describe()) << "\n";
  }
  std::cout << "Checked " << r.records << " records, " << r.blobPointers << " BLOB pointers, "
            << r.indexEntries << " secondary index entries.\n";
  for (const std::string& note : r.notes) std::cout << "Not checked: " << Shown(note) << "\n";
  std::cout.flush();
  return r.Clean() ? kUsable : kUnusable;
}

}  // namespace zel::zelcheck
