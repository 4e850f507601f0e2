// Deep check figures on the engine benchmark's table (the same definition, records and two
// named indexes as benchmarks/engine): the deep check beside `cat` over the same files, as a
// fraction of cat's throughput, and its peak memory. Run by benchmarks/deep/run.sh.
//
//   zel_deep_bench --dir DIR --records N   all figures (the table is made once in DIR)
//   zel_deep_bench check DB                (child) one deep check; exit 0 clean, 1 damaged
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

int Figures(const fs::path& dir, long records) {
  fs::create_directories(dir);
  const fs::path db = dir / "BENCH.DB";
  if (!fs::exists(db)) CreateTable(db, bench::Definition(), bench::Records(records));
  std::vector<std::string> cat = {"/bin/cat"};
  std::uint64_t bytes = 0;
  for (const char* ext : {".DB", ".PX", ".XG0", ".YG0", ".XG1", ".YG1"}) {
    const fs::path f = dir / (std::string("BENCH") + ext);
    cat.push_back(f.string());
    bytes += fs::file_size(f);
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::vector<std::string> check = {self, "check", db.string()};
  const int kPairs = 11;
  const bench::Pair p = bench::Alternate(cat, check, kPairs);
  if (!p.completed) {
    std::fprintf(stderr, "cat exit %d, deep check exit %d\n", p.lastA.status, p.lastB.status);
    return 1;
  }
  const bench::Run &bestCat = p.a, &bestCheck = p.b;
  const double mib = 1024.0 * 1024.0;
  std::printf("records                      %ld\n", records);
  std::printf("files read                   %.1f MiB (.DB .PX .XG0 .YG0 .XG1 .YG1)\n",
              static_cast<double>(bytes) / mib);
  std::printf("cat, best of %d              %.4f s (%.0f MiB/s)\n", kPairs, bestCat.seconds,
              static_cast<double>(bytes) / mib / bestCat.seconds);
  std::printf("deep check, best of %d       %.4f s (%.0f MiB/s)\n", kPairs, bestCheck.seconds,
              static_cast<double>(bytes) / mib / bestCheck.seconds);
  std::printf("fraction of cat's throughput %.2f (median of %d back-to-back pairs; %.2f to %.2f)\n",
              p.Median(), kPairs, p.ratios.front(), p.ratios.back());
  std::printf("deep check peak memory       %.1f MiB (VmHWM)\n", p.peakKbB / 1024.0);
  return 0;
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
    for (int i = 1; i + 1 < argc; i += 2) {
      const std::string a = argv[i];
      if (a == "--dir") dir = argv[i + 1];
      if (a == "--records") records = std::stol(argv[i + 1]);
    }
    if (dir.empty() || records < 1) {
      std::fprintf(stderr, "usage: zel_deep_bench --dir DIR [--records N]\n");
      return 2;
    }
    return Figures(dir, records);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zel_deep_bench: %s\n", e.what());
    return 1;
  }
}
