#include "technician/RebuildTable.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>

#include "engine/EngineError.h"
#include "engine/Salvage.h"
#include "engine/Verifier.h"
#include "platform/AsciiCase.h"
#include "platform/FolderEntries.h"
#include "technician/RebuildGuard.h"
#include "technician/RebuildStructure.h"
#include "technician/RebuildSwap.h"

namespace zel::technician {
namespace fs = std::filesystem;
namespace {

using platform::AsciiUpper;

constexpr const char* kKeyViolations = "KEYVIOL.csv";

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    throw std::runtime_error("cannot open the folder " + folder.string() +
                             " to sync it: " + std::strerror(errno));
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  if (rc != 0 && err != EINVAL && err != EROFS)
    throw std::runtime_error("cannot sync the folder " + folder.string() + ": " +
                             std::strerror(err));
}

// An entry of `parent` named `name` without regard to case, else `parent / name`.
fs::path ExistingOrNew(const fs::path& parent, const std::string& name) {
  std::error_code ec;
  for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
    if (AsciiUpper(it->path().filename().string()) == AsciiUpper(name)) return it->path();
  return parent / name;
}

// Makes `dir` (a new folder under `parent`, which must exist and be no link) and makes its name
// durable; never goes through a link.
void MakeFolder(const fs::path& dir) {
  const fs::path parent = dir.parent_path();
  if (platform::IsSymbolicLink(parent))
    throw std::runtime_error(parent.string() + " is a symbolic link; it is not followed");
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(dir, ec))) {
    if (platform::IsSymbolicLink(dir))
      throw std::runtime_error(dir.string() + " is a symbolic link; it is not followed");
    if (!fs::create_directory(dir, ec) && ec)
      throw std::runtime_error("cannot make the folder " + dir.string() + ": " + ec.message());
  }
  SyncFolder(dir);
  SyncFolder(parent);
}

// The folder the old files are kept in: ZelUtil.Damaged\<time>\<FOLDER>\ for a station's
// table, else TABLE.rebuild-<time>\ beside it. A new one each time.
fs::path MakeKeptFolder(const fs::path& db, const std::string& stamp) {
  const StationTable st = FindStationTable(db);
  if (!st.folder.empty()) {
    const fs::path root = ExistingOrNew(st.posFolder, "ZelUtil.Damaged");
    MakeFolder(root);
    fs::path run = root / stamp;
    std::error_code ec;
    for (int n = 2; fs::exists(fs::symlink_status(run, ec)); ++n)
      run = root / (stamp + "-" + std::to_string(n));
    MakeFolder(run);
    const fs::path kept = run / st.folder;
    MakeFolder(kept);
    return kept;
  }
  const fs::path base = db.parent_path() / (db.stem().string() + ".rebuild-" + stamp);
  fs::path kept = base;
  std::error_code ec;
  for (int n = 2; fs::exists(fs::symlink_status(kept, ec)); ++n)
    kept = fs::path(base.string() + "-" + std::to_string(n));
  MakeFolder(kept);
  return kept;
}

// Each old file gets a second name in the kept folder (a copy where links cannot be made),
// durable before anything of the table changes.
void KeepOldFiles(const std::vector<fs::path>& files, const fs::path& kept) {
  for (const fs::path& file : files) {
    const fs::path copy = kept / file.filename();
    if (::link(file.c_str(), copy.c_str()) == 0) continue;
    std::error_code ec;
    if (!fs::copy_file(file, copy, ec))
      throw std::runtime_error("cannot keep " + file.string() + " in " + kept.string() + ": " +
                               ec.message());
    const int fd = ::open(copy.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!synced) throw std::runtime_error("cannot sync the kept copy " + copy.string());
  }
  SyncFolder(kept);
}

void RemoveStaging(const fs::path& staging) {
  std::error_code ec;
  if (!platform::IsSymbolicLink(staging)) fs::remove_all(staging, ec);
}

}  // namespace

fs::path RebuildStagingFolder(const fs::path& db) {
  return db.parent_path() / (".zeltmp-rebuild-" + db.stem().string());
}

RebuildOutcome RebuildTable(const fs::path& dbGiven, const RebuildOptions& options) {
  const fs::path db = fs::absolute(dbGiven);
  const fs::path staging = RebuildStagingFolder(db);
  RebuildOutcome out;
  if (platform::IsSymbolicLink(staging))
    throw RebuildRefused("a symbolic link stands where the rebuild stages its files",
                         staging.string());
  const std::vector<fs::path> files = engine::ExistingTableFiles(db);
  if (const std::string busy = WhyTableIsBusy(files); !busy.empty())
    throw RebuildRefused(busy, db.string());

  if (SwapDue(staging)) {
    SwapStagedFiles(db, staging);
    out.finishedInterrupted = true;
    return out;
  }
  RemoveStaging(staging);  // an earlier rebuild stopped before its swap: the table is as it was
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(db, ec)))
    throw RebuildRefused("the table's data file is missing or not a regular file", db.string());

  const RebuildStructure structure = FindRebuildStructure(db, options.like);
  out.structureFrom = structure.from;
  MakeFolder(staging);
  engine::SalvageOptions salvage;
  salvage.like = structure.like;
  salvage.indexes = structure.indexes;
  salvage.blockSize = structure.blockSize;
  salvage.definitionCount = structure.definitionCount;
  salvage.duplicatesCsv = staging / kKeyViolations;
  engine::SalvageReport r;
  try {
    r = engine::SalvageTable(db, staging / db.filename(), salvage);
  } catch (const engine::EngineError& e) {
    RemoveStaging(staging);
    throw RebuildRefused(e.Message(), e.File());
  }
  if (!r.tableWritten) {
    RemoveStaging(staging);
    if (r.recovered == 0 && r.hadRecords)
      throw RebuildRefused("no record could be read; nothing changed", db.string());
    throw RebuildRefused(
        "the writer cannot make this table faithfully (" + r.csvOnlyReason + "); nothing changed",
        db.string());
  }
  SyncFolder(staging);

  // The new table's files, by the names the writer gave them.
  std::vector<std::string> newFiles;
  std::vector<std::string> reports;
  for (const platform::FolderEntry& e : platform::RegularFilesIn(staging)) {
    const std::string ext = AsciiUpper(fs::path(e.name).extension().string());
    if (ext == ".CSV")
      reports.push_back(e.name);
    else
      newFiles.push_back(e.name);
  }

  // Until the swap is marked due, a failure leaves the table as it was and nothing staged.
  try {
    out.keptFolder = MakeKeptFolder(db, options.stamp.empty() ? Now() : options.stamp);
    KeepOldFiles(files, out.keptFolder);
    for (const std::string& name : reports) {
      const fs::path to = out.keptFolder / name;
      if (::rename((staging / name).c_str(), to.c_str()) != 0)
        throw std::runtime_error("cannot move " + name + " to " + out.keptFolder.string() + ": " +
                                 std::strerror(errno));
    }
    SyncFolder(out.keptFolder);
    SyncFolder(staging);
  } catch (...) {
    RemoveStaging(staging);
    throw;
  }

  MarkSwapDue(db, staging, newFiles);
  SwapStagedFiles(db, staging);

  out.kept = r.recovered;
  out.keyViolations = r.duplicated;
  out.outsideChain = r.outsideChain;
  out.lostKnown = r.headerReadable;
  const std::uint64_t accounted = r.recovered + r.duplicated;
  out.lost = r.headerReadable && r.headerRecords > accounted ? r.headerRecords - accounted : 0;
  out.lost = std::max<std::uint64_t>(out.lost, r.dropped);
  out.lostBlocks = r.unreadableBlockNumbers;
  std::sort(out.lostBlocks.begin(), out.lostBlocks.end());
  out.dropped = r.dropped;
  // Blocks a file cut short lost: beyond its end, or its last one when that held lost records
  // (Borland's own files may end inside a last block that holds every record).
  if (r.headerBlocks > r.blocksInFile || (r.lastBlockShort && r.headerBlocks > 0 && out.lost > 0)) {
    out.cutOffFirst =
        static_cast<std::uint32_t>(r.lastBlockShort ? r.blocksInFile : r.blocksInFile + 1);
    out.cutOffLast = static_cast<std::uint32_t>(std::max(r.headerBlocks, r.blocksInFile));
  }
  for (const auto& x : structure.indexes) out.indexes.push_back(x.name);
  out.primaryIndex = std::any_of(newFiles.begin(), newFiles.end(), [](const std::string& n) {
    return AsciiUpper(fs::path(n).extension().string()) == ".PX";
  });
  if (!r.duplicatesCsv.empty()) out.keyViolCsv = out.keptFolder / kKeyViolations;
  return out;
}

}  // namespace zel::technician
