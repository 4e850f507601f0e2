#include "tools/zelcheck/SalvageCommand.h"

#include <iostream>
#include <string>

#include "engine/EngineError.h"
#include "engine/Salvage.h"
#ifndef _WIN32
#include "platform/posix/WorkAsTillUser.h"
#endif
#include "tools/zelcheck/ExitStatus.h"
#include "tools/zelcheck/ShownText.h"
#include "tools/zelcheck/TargetPaths.h"

namespace zel::zelcheck {

int RunSalvage(const Options& options) {
  namespace fs = std::filesystem;
  using zel::engine::EngineError;
  const fs::path damaged = HostPath(options.target);
  std::string why;
  if (!ReadableFile(damaged, why)) {
    std::cerr << "zelcheck: cannot read " << Shown(damaged.string()) << ": " << Shown(why) << "\n";
    return kBadUse;
  }
  if (options.salvageTo.empty()) {
    std::cerr << "zelcheck: --salvage needs --to NEW.DB (see zelcheck --help)\n";
    return kBadUse;
  }
  const fs::path newDb = HostPath(options.salvageTo);
#ifndef _WIN32
  // Root writing into a folder of another user's (a till's prefix): with that user's rights, so
  // the salvaged files are the user's and no link there reaches beyond what the user may write.
  if (const auto ended = zel::platform::WorkAsOwnerOf("zelcheck", newDb.parent_path(), kBadUse))
    return *ended;
#endif
  zel::engine::SalvageOptions salvage;
  if (!options.like.empty()) {
    salvage.like = HostPath(options.like);
    if (!ReadableFile(salvage.like, why)) {
      std::cerr << "zelcheck: cannot read " << Shown(salvage.like.string()) << ": " << Shown(why)
                << "\n";
      return kBadUse;
    }
  }
  std::error_code ec;
  if (fs::equivalent(damaged, newDb, ec)) {
    std::cerr << "zelcheck: the new table must not be the damaged one\n";
    return kBadUse;
  }

  zel::engine::SalvageReport r;
  try {
    r = zel::engine::SalvageTable(damaged, newDb, salvage);
  } catch (const EngineError& e) {
    std::cerr << "zelcheck: " << Shown(e.what()) << "\n";
    const bool badUse = e.Code() == zel::engine::SalvageErrorCode::OutputExists ||
                        e.Code() == zel::engine::ErrorCode::WriteFailed ||
                        (!salvage.like.empty() && e.File() == salvage.like.string());
    return badUse ? kBadUse : kUnusable;
  }

  if (!r.headerReadable) {
    std::cout << "header unreadable (" << Shown(r.headerProblem) << "); structure taken from "
              << Shown(salvage.like.string()) << "\n";
  }
  std::cout << "recovered:          " << r.recovered << "\n"
            << "outside the chain:  " << r.outsideChain << "\n"
            << "dropped:            " << r.dropped << "\n"
            << "duplicated:         " << r.duplicated << "\n"
            << "unreadable blocks:  " << r.unreadableBlocks << " of " << r.blocksInFile << "\n";
  if (r.recovered == 0 && r.hadRecords) {
    std::cout << "no record could be read; nothing written"
              << (r.outsideCsv.empty() ? "" : " but " + Shown(r.outsideCsv.string())) << "\n";
    return kUnusable;
  }
  if (r.blobsUnreadable > 0)
    std::cout << "BLOB values unreadable: " << r.blobsUnreadable
              << " (written with the leader their record holds)\n";
  if (r.tableWritten) std::cout << "table: " << Shown(r.table.string()) << "\n";
  if (!r.csvOnlyReason.empty())
    std::cout << "table not written (" << Shown(r.csvOnlyReason) << "); records in the CSV only\n";
  std::cout << "csv:   " << Shown(r.csv.string()) << "\n";
  if (!r.outsideCsv.empty())
    std::cout << "outside the chain: " << Shown(r.outsideCsv.string()) << "\n";
  return kUsable;
}

}  // namespace zel::zelcheck
