// Salvage figures on the engine benchmark's table: reading and decoding beside `cat`, writing
// beside the writer's own time for the same records. Run by benchmarks/salvage/run.sh.
//
//   zel_salvage_bench --dir DIR --records N    all figures for one table size
//   zel_salvage_bench create DB N              the engine benchmark's table of N records
//   zel_salvage_bench scan DB                  (child) salvage's reading and decoding only
//   zel_salvage_bench salvage DB NEW.DB        (child) a whole salvage, outputs written
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

namespace fs = std::filesystem;
namespace bench = zel::bench;
using namespace zel::engine;

namespace {

using bench::Clock;
using bench::Definition;
using bench::Records;
using bench::Seconds;

// A run that must succeed, else the benchmark ends there.
bench::Run Succeeded(const bench::Argv& argv) {
  const bench::Run r = bench::Spawn(argv);
  if (r.status != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    std::exit(1);
  }
  return r;
}

int Figures(const fs::path& dir, long records) {
  fs::create_directories(dir);
  const fs::path db = dir / "BENCH.DB";
  CreateTable(db, Definition(true), Records(records));
  const std::string self = fs::read_symlink("/proc/self/exe").string();

  const bench::Pair read =
      bench::Alternate({"/bin/cat", db.string()}, {self, "scan", db.string()}, 9, Succeeded);
  const double cat = read.a.seconds, scan = read.b.seconds, ratio = read.Median();

  // Writing: a whole salvage (new .DB, .PX and CSV) beside the writer making the same table
  // (.DB and .PX) from records in memory.
  double salvage = 0, writer = 0;
  for (int i = 0; i < 3; ++i) {
    const fs::path out = dir / "OUT";
    fs::remove_all(out);
    fs::create_directories(out);
    const double s = Succeeded({self, "salvage", db.string(), (out / "NEW.DB").string()}).seconds;
    fs::remove_all(out);
    fs::create_directories(out);
    const auto start = Clock::now();
    CreateTable(out / "SAME.DB", Definition(false), Records(records));
    const double w = Seconds(start);
    salvage = i == 0 ? s : std::min(salvage, s);
    writer = i == 0 ? w : std::min(writer, w);
  }
  fs::remove_all(dir / "OUT");

  const double mib = static_cast<double>(fs::file_size(db)) / (1024.0 * 1024.0);
  std::printf("records                              %ld\n", records);
  std::printf(".DB size                             %.1f MiB\n", mib);
  std::printf("cat .DB (best of 9)                  %.3f s  %.0f MiB/s\n", cat, mib / cat);
  std::printf("salvage read+decode (best of 9)      %.3f s  %.0f MiB/s\n", scan, mib / scan);
  std::printf("read+decode, fraction of cat         %.2f (median of 9 back-to-back ratios)\n",
              ratio);
  std::printf("whole salvage to .DB+.PX+CSV (best of 3) %.3f s\n", salvage);
  std::printf("writer, same records (best of 3)     %.3f s\n", writer);
  std::printf("salvage writing (whole - read+decode) %.3f s = %.2fx the writer's time\n",
              salvage - scan, (salvage - scan) / writer);
  return 0;
}

int Scan(const fs::path& db) {
  SalvageOptions o;
  o.dryRun = true;
  const SalvageReport r = SalvageTable(db, db.parent_path() / "DRYRUN.DB", o);
  std::printf("%llu\n", static_cast<unsigned long long>(r.recovered));
  return r.recovered == r.headerRecords ? 0 : 1;
}

int Whole(const fs::path& db, const fs::path& out) {
  const SalvageReport r = SalvageTable(db, out);
  std::printf("%llu\n", static_cast<unsigned long long>(r.recovered));
  return r.tableWritten && r.recovered == r.headerRecords ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 2 && a[0] == "scan") return Scan(a[1]);
    if (a.size() == 3 && a[0] == "create") {
      CreateTable(a[1], Definition(true), Records(std::atol(a[2].c_str())));
      return 0;
    }
    if (a.size() == 3 && a[0] == "salvage") return Whole(a[1], a[2]);
    if (a.size() == 4 && a[0] == "--dir" && a[2] == "--records")
      return Figures(a[1], std::atol(a[3].c_str()));
  } catch (const EngineError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: zel_salvage_bench --dir DIR --records N | scan DB | salvage DB NEW.DB\n");
  return 2;
}
