#include "tools/zelcheck/DeepCommand.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "engine/DeepCheck.h"
#include "engine/EngineError.h"
#include "tools/zelcheck/ExitStatus.h"
#include "tools/zelcheck/JsonOutput.h"
#include "tools/zelcheck/ShownText.h"
#include "tools/zelcheck/TargetPaths.h"

namespace zel::zelcheck {
namespace {

nlohmann::json FindingJson(const zel::engine::DeepProblem& p) {
  const bool damage = p.severity == zel::engine::DeepSeverity::Damage;
  return {{"severity", damage ? "damage" : "note"},
          {"file", p.file},
          {"block", p.block},
          {"record", p.record},
          {"code", p.code},
          {"text", p.text}};
}

void PrintDeepJson(const std::filesystem::path& table, const zel::engine::DeepCheckResult& r) {
  nlohmann::json findings = nlohmann::json::array();
  for (const zel::engine::DeepProblem& p : r.problems) findings.push_back(FindingJson(p));
  for (const zel::engine::DeepProblem& p : r.notes) findings.push_back(FindingJson(p));
  PrintJson({{"table", table.string()},
             {"clean", r.Clean()},
             {"limitReached", r.limitReached},
             {"records", r.records},
             {"blobPointers", r.blobPointers},
             {"indexEntries", r.indexEntries},
             {"findings", std::move(findings)}});
}

void PrintDeepText(const std::filesystem::path& table, const zel::engine::DeepCheckResult& r) {
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
  // Notes come after the damage and change nothing in the verdict.
  for (const zel::engine::DeepProblem& p : r.notes)
    std::cout << "Note: " << Shown(p.Describe()) << "\n";
}

}  // namespace

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
  if (options.json) {
    PrintDeepJson(table, r);
  } else {
    PrintDeepText(table, r);
  }
  std::cout.flush();
  return r.Clean() ? kUsable : kUnusable;
}

}  // namespace zel::zelcheck
