// Deep check figures on the engine benchmark's table (the same definition, records and two
// named indexes as benchmarks/engine): the deep check beside `cat` over the same files, as a
// fraction of cat's throughput, and its peak memory. Run by benchmarks/deep/run.sh.
//
//   zel_deep_bench --dir DIR --records N   all figures (the tables are made once in DIR): the
//                                          keyed table with its indexes, and a heap
//   zel_deep_bench check DB                (child) one deep check; exit 0 clean, 1 damaged
//   --checker BINARY                       runs BINARY check DB as the child (another build of
//                                          this benchmark, for figures before a change)
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "benchmarks/common/BenchTables.h"
#include "benchmarks/common/Spawn.h"
#include "engine/DeepCheck.h"
#include "engine/EngineError.h"
#include "engine/TableWriter.h"

namespace fs = std::filesystem;
namespace bench = zel::bench;
using namespace zel::engine;

namespace {

// The deep check of `db` beside cat over `files`.
int Measure(const char* what, const fs::path& db, const std::vector<fs::path>& files, long records,
            const std::string& checker) {
  std::vector<std::string> cat = {"/bin/cat"};
  std::uint64_t bytes = 0;
  std::string names;
  for (const fs::path& f : files) {
    cat.push_back(f.string());
    bytes += fs::file_size(f);
    names += ' ';
    names += f.extension().string();
  }
  const std::vector<std::string> check = {checker, "check", db.string()};
  const int kPairs = 11;
  const bench::Pair p = bench::Alternate(cat, check, kPairs);
  if (!p.completed) {
    std::fprintf(stderr, "cat exit %d, deep check exit %d\n", p.lastA.status, p.lastB.status);
    return 1;
  }
  const bench::Run &bestCat = p.a, &bestCheck = p.b;
  const double mib = 1024.0 * 1024.0;
  std::printf("%s\n", what);
  std::printf("records                      %ld\n", records);
  std::printf("files read                   %.1f MiB (%s)\n", static_cast<double>(bytes) / mib,
              names.c_str() + 1);
  std::printf("cat, best of %d              %.4f s (%.0f MiB/s)\n", kPairs, bestCat.seconds,
              static_cast<double>(bytes) / mib / bestCat.seconds);
  std::printf("deep check, best of %d       %.4f s (%.0f MiB/s)\n", kPairs, bestCheck.seconds,
              static_cast<double>(bytes) / mib / bestCheck.seconds);
  std::printf("fraction of cat's throughput %.2f (median of %d back-to-back pairs; %.2f to %.2f)\n",
              p.Median(), kPairs, p.ratios.front(), p.ratios.back());
  std::printf("deep check peak memory       %.1f MiB (VmHWM)\n\n", p.peakKbB / 1024.0);
  return 0;
}

int Figures(const fs::path& dir, long records, std::string checker) {
  if (checker.empty()) checker = fs::read_symlink("/proc/self/exe").string();
  fs::create_directories(dir);
  // The keyed table with its .PX and two named indexes.
  const fs::path db = dir / "BENCH.DB";
  if (!fs::exists(db)) CreateTable(db, bench::Definition(), bench::Records(records));
  std::vector<fs::path> files;
  for (const char* ext : {".DB", ".PX", ".XG0", ".YG0", ".XG1", ".YG1"})
    files.push_back(dir / (std::string("BENCH") + ext));
  // The same records in a heap: the data file alone.
  const fs::path heap = dir / "HEAP.DB";
  if (!fs::exists(heap)) {
    TableDef def = bench::Definition(false);
    def.keyFieldCount = 0;
    CreateTable(heap, def, bench::Records(records));
  }
  return Measure("keyed table, .PX and two secondary indexes", db, files, records, checker) != 0 ||
                 Measure("heap table", heap, {heap}, records, checker) != 0
             ? 1
             : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "check") {
      const DeepCheckResult r = DeepCheckTable(argv[2]);
      for (const DeepProblem& p : r.problems) std::fprintf(stderr, "%s\n", p.Describe().c_str());
      bench::ReportPeakToParent();
      return r.Clean() ? 0 : 1;
    }
    fs::path dir;
    long records = 1000000;
    std::string checker;
    for (int i = 1; i + 1 < argc; i += 2) {
      const std::string a = argv[i];
      if (a == "--dir") dir = argv[i + 1];
      if (a == "--records") records = std::stol(argv[i + 1]);
      if (a == "--checker") checker = argv[i + 1];
    }
    if (dir.empty() || records < 1) {
      std::fprintf(stderr, "usage: zel_deep_bench --dir DIR [--records N] [--checker BINARY]\n");
      return 2;
    }
    return Figures(dir, records, checker);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zel_deep_bench: %s\n", e.what());
    return 1;
  }
}
