#include "tools/zelcheck/RebuildCommand.h"

#include <iostream>
#include <string>

#include "tools/zelcheck/ExitStatus.h"
#include "tools/zelcheck/ShownText.h"
#include "tools/zelcheck/TargetPaths.h"
#ifndef _WIN32
#include "platform/posix/WorkAsTillUser.h"
#include "technician/RebuildTable.h"
#endif

namespace zel::zelcheck {

#ifdef _WIN32
int RunRebuild(const Options&) {
  std::cerr << "zelcheck: --rebuild is not available in this build\n";
  return kBadUse;
}
#else
namespace {

std::string Blocks(const std::vector<std::uint32_t>& blocks) {
  std::string text;
  for (std::size_t i = 0; i < blocks.size() && i < 20; ++i)
    text += (i ? ", " : "") + std::to_string(blocks[i]);
  if (blocks.size() > 20) text += ", ... (" + std::to_string(blocks.size()) + " in all)";
  return text;
}

}  // namespace

int RunRebuild(const Options& options) {
  namespace fs = std::filesystem;
  const fs::path table = HostPath(options.target);
  std::string why;
  technician::RebuildOptions rebuild;
  if (!options.like.empty()) {
    rebuild.like = HostPath(options.like);
    if (!ReadableFile(rebuild.like, why)) {
      std::cerr << "zelcheck: cannot read " << Shown(rebuild.like.string()) << ": " << Shown(why)
                << "\n";
      return kBadUse;
    }
  }
  // Root over a till's prefix: the table's files stay the till user's, and no link planted
  // there reaches beyond what that user may write.
  if (const auto ended = platform::WorkAsOwnerOf("zelcheck", table.parent_path(), kBadUse))
    return *ended;

  technician::RebuildOutcome r;
  try {
    r = technician::RebuildTable(table, rebuild);
  } catch (const technician::RebuildRefused& e) {
    std::cerr << "zelcheck: not rebuilt: " << Shown(e.what()) << " (" << Shown(e.File()) << ")\n";
    return kUnusable;
  } catch (const std::exception& e) {
    std::cerr << "zelcheck: rebuild of " << Shown(table.string()) << " failed: " << Shown(e.what())
              << "\n";
    return kUnusable;
  }
  if (r.finishedInterrupted) {
    std::cout << "finished the rebuild of " << Shown(table.string())
              << " that was interrupted in its swap; run --rebuild again to rebuild anew\n";
    return kUsable;
  }
  std::cout << "structure from:     " << Shown(r.structureFrom) << "\n"
            << "records kept:       " << r.kept << "\n"
            << "records lost:       ";
  if (r.lostKnown)
    std::cout << r.lost;
  else
    std::cout << "not known (the header that counts them is destroyed)"
              << (r.dropped > 0 ? "; " + std::to_string(r.dropped) + " could not be decoded" : "");
  std::string where;
  if (!r.lostBlocks.empty()) where = "unreadable blocks " + Blocks(r.lostBlocks);
  if (r.cutOffFirst != 0)
    where += (where.empty() ? "" : "; ") + std::string("blocks ") + std::to_string(r.cutOffFirst) +
             (r.cutOffLast > r.cutOffFirst ? "-" + std::to_string(r.cutOffLast) : "") +
             " cut short by the end of the file";
  if (!where.empty()) std::cout << " (" << where << ")";
  std::cout << "\n";
  if (r.keyViolations > 0)
    std::cout << "key violations:     " << r.keyViolations << " in " << Shown(r.keyViolCsv.string())
              << "\n";
  if (r.outsideChain > 0)
    std::cout << "outside the chain:  " << r.outsideChain << " (deleted or orphaned records, in "
              << Shown(r.keptFolder.string()) << ")\n";
  std::cout << "indexes rebuilt:    " << (r.primaryIndex ? "primary" : "none (no key)");
  for (const std::string& name : r.indexes) std::cout << ", " << Shown(name);
  std::cout << "\n"
            << "old files kept in:  " << Shown(r.keptFolder.string()) << "\n";
  return kUsable;
}
#endif

}  // namespace zel::zelcheck
