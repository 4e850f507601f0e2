// zelcheck: tells whether a Paradox table and its indexes are usable. Only --salvage and
// --rebuild write; no lock files are made. Each mode lives in its own file; Options.cpp holds
// the command line.
#include <iostream>
#include <string>
#include <vector>

#include "tools/zelcheck/DeepCommand.h"
#include "tools/zelcheck/ExitStatus.h"
#include "tools/zelcheck/InfoCommand.h"
#include "tools/zelcheck/LocksCommand.h"
#include "tools/zelcheck/Options.h"
#include "tools/zelcheck/RebuildCommand.h"
#include "tools/zelcheck/SalvageCommand.h"
#include "tools/zelcheck/VerifyCommand.h"
#include "zel/Version.h"

using namespace zel::zelcheck;

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::cerr << "zelcheck: " << error << " (see zelcheck --help)\n";
    return kBadUse;
  }
  switch (options.mode) {
    case Mode::Help:
      PrintUsage(std::cout);
      return kUsable;
    case Mode::Version:
      std::cout << "zelcheck " << zel::kVersion << "\n";
      return kUsable;
    case Mode::Verify:
      return RunVerify(options);
    case Mode::Info:
      return RunInfo(options);
    case Mode::Locks:
      return RunLocks(options);
    case Mode::Deep:
      return RunDeep(options);
    case Mode::Salvage:
      return RunSalvage(options);
    case Mode::Rebuild:
      return RunRebuild(options);
  }
  return kBadUse;
}
