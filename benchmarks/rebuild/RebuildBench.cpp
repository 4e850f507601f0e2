// A rebuild in place of the benchmarks' keyed table (two named indexes) beside what it stands
// for: a salvage into a new table plus the rebuild of that table's two indexes. Run by
// benchmarks/rebuild/run.sh.
//
//   zel_rebuild_bench --dir DIR --records N    the figures for one table size
//   zel_rebuild_bench baseline DB NEW.DB       (child) salvage, then the two indexes rebuilt
//   zel_rebuild_bench rebuild DB               (child) the table rebuilt in place
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "benchmarks/common/BenchTables.h"
#include "benchmarks/common/Spawn.h"
#include "engine/EngineError.h"
#include "engine/Salvage.h"
#include "engine/TableWriter.h"
#include "technician/RebuildTable.h"

namespace fs = std::filesystem;
namespace bench = zel::bench;
using namespace zel::engine;

namespace {

bench::Run Succeeded(const bench::Argv& argv) {
  const bench::Run r = bench::Spawn(argv);
  if (r.status != 0) {
    std::fprintf(stderr, "%s %s failed with status %d\n", argv[0].c_str(), argv[1].c_str(),
                 r.status);
    std::exit(1);
  }
  return r;
}

// A fresh copy of the table's files in `to` (not timed).
void CopyTable(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(from))
    if (e.is_regular_file()) fs::copy_file(e.path(), to / e.path().filename());
}

int Figures(const fs::path& dir, long records) {
  const fs::path source = dir / "source";
  fs::create_directories(source);
  CreateTable(source / "BENCH.DB", bench::Definition(true), bench::Records(records));
  const std::string self = fs::read_symlink("/proc/self/exe").string();

  constexpr int kPairs = 5;
  std::vector<double> ratios;
  double baseline = 0, rebuild = 0;
  for (int i = 0; i < kPairs; ++i) {
    CopyTable(source, dir / "a");
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    const double b = Succeeded({self, "baseline", (dir / "a" / "BENCH.DB").string(),
                                (dir / "out" / "NEW.DB").string()})
                         .seconds;
    CopyTable(source, dir / "b");
    const double r = Succeeded({self, "rebuild", (dir / "b" / "BENCH.DB").string()}).seconds;
    baseline = i == 0 ? b : std::min(baseline, b);
    rebuild = i == 0 ? r : std::min(rebuild, r);
    ratios.push_back(r / b);
  }
  std::sort(ratios.begin(), ratios.end());
  const double mib = static_cast<double>(fs::file_size(source / "BENCH.DB")) / (1024.0 * 1024.0);
  std::printf("records                                      %ld\n", records);
  std::printf(".DB size                                     %.1f MiB\n", mib);
  std::printf("salvage + rebuild of 2 indexes (best of %d)   %.3f s\n", kPairs, baseline);
  std::printf("zelcheck --rebuild's work (best of %d)        %.3f s\n", kPairs, rebuild);
  std::printf(
      "rebuild / (salvage + index rebuild)          %.2f (median of %d back-to-back "
      "ratios; target: at most 2)\n",
      ratios[ratios.size() / 2], kPairs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 4 && args[0] == "--dir" && args[2] == "--records")
      return Figures(args[1], std::stol(args[3]));
    if (args.size() == 3 && args[0] == "baseline") {
      SalvageTable(args[1], args[2]);
      RebuildIndexes(args[2], bench::Definition(true).indexes);
      bench::ReportPeakToParent();
      return 0;
    }
    if (args.size() == 2 && args[0] == "rebuild") {
      zel::technician::RebuildTable(args[1]);
      bench::ReportPeakToParent();
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zel_rebuild_bench: %s\n", e.what());
    return 1;
  }
  std::fprintf(
      stderr, "usage: zel_rebuild_bench --dir DIR --records N | baseline DB NEW.DB | rebuild DB\n");
  return 2;
}
