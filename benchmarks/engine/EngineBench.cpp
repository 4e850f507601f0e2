// Engine figures on one generated table: creation, verification beside `cat` and pxlib,
// verification memory, index rebuild beside read + sort. Run by benchmarks/engine/run.sh.
//
//   zel_engine_bench --dir DIR --records N --pxdump PATH   all figures for one table size
//   zel_engine_bench verify DB [INDEX]                     (child) one verification
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "benchmarks/common/BenchTables.h"
#include "benchmarks/common/Spawn.h"
#include "engine/EngineError.h"
#include "engine/ParadoxFormat.h"
#include "engine/TableWriter.h"
#include "engine/Verifier.h"

namespace fs = std::filesystem;
namespace bench = zel::bench;
using namespace zel::engine;

namespace {

using bench::Clock;
using bench::Seconds;

// Key bytes of both named indexes for every record, read straight from the .DB, then sorted:
// the least work any rebuild must do.
double ReadAndSort(const fs::path& db) {
  const auto start = Clock::now();
  const int fd = open(db.c_str(), O_RDONLY);
  std::vector<std::uint8_t> head(0x800);
  if (pread(fd, head.data(), head.size(), 0) != static_cast<ssize_t>(head.size())) std::exit(1);
  zel::engine::px::Header h;
  std::string problem;
  if (!zel::engine::px::ParseHeader(head, h, problem)) std::exit(1);
  const std::size_t bs = h.BlockSize(), rs = h.recordSize;
  std::vector<std::uint8_t> name, group;  // Name+ID (24), Group+Day+ID (10)
  name.reserve(std::size_t{h.numRecords} * 24);
  group.reserve(std::size_t{h.numRecords} * 10);
  std::vector<std::uint8_t> buf(bs * 256);
  for (std::uint64_t b = 0; b < h.fileBlocks; b += 256) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(256, h.fileBlocks - b)) * bs;
    if (pread(fd, buf.data(), want, static_cast<off_t>(h.headerSize + b * bs)) !=
        static_cast<ssize_t>(want))
      std::exit(1);
    for (std::size_t at = 0; at < want; at += bs) {
      const std::uint8_t* blk = buf.data() + at;
      const int n = zel::engine::px::LeS16(blk + 4) / static_cast<int>(rs) + 1;
      for (int i = 0; i < n; ++i) {
        const std::uint8_t* rec = blk + 6 + i * rs;
        name.insert(name.end(), rec + 4, rec + 24);
        name.insert(name.end(), rec, rec + 4);
        group.insert(group.end(), rec + 24, rec + 26);
        group.insert(group.end(), rec + 34, rec + 38);
        group.insert(group.end(), rec, rec + 4);
      }
    }
  }
  close(fd);
  for (auto* keys : {&name, &group}) {
    const std::size_t kb = keys == &name ? 24 : 10;
    std::vector<std::uint32_t> order(keys->size() / kb);
    std::iota(order.begin(), order.end(), 0u);
    const std::uint8_t* k = keys->data();
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return std::memcmp(k + a * kb, k + b * kb, kb) < 0;
    });
  }
  return Seconds(start);
}

std::uint64_t Bytes(const std::vector<fs::path>& files) {
  std::uint64_t n = 0;
  for (const auto& f : files) n += fs::file_size(f);
  return n;
}

int Figures(const fs::path& dir, long records, const std::string& pxdump) {
  fs::create_directories(dir);
  const fs::path db = dir / "BENCH.DB";
  const TableDef def = bench::Definition();
  auto start = Clock::now();
  CreateTable(db, def, bench::Records(records));
  const double create = Seconds(start);
  const long createPeakKb = bench::PeakKb();  // this process did nothing heavier before
  const fs::path pxFile = dir / "BENCH.PX", x = dir / "BENCH.XG0", y = dir / "BENCH.YG0";
  const std::vector<fs::path> primaryFiles = {db, pxFile}, namedFiles = {db, pxFile, x, y};

  auto catArgs = [](const std::vector<fs::path>& files) {
    std::vector<std::string> argv = {"/bin/cat"};
    for (const auto& f : files) argv.push_back(f.string());
    return argv;
  };
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  // Each run must succeed, else the benchmark ends there.
  const bench::Runner checked = [](const bench::Argv& argv) { return bench::Best(argv, 1); };
  const bench::Pair primary =
      bench::Alternate(catArgs(primaryFiles), {self, "verify", db.string()}, 9, checked);
  const bench::Pair named =
      bench::Alternate(catArgs(namedFiles), {self, "verify", db.string(), "ByName"}, 9, checked);
  const bench::Run &catPrimary = primary.a, &verifyPrimary = primary.b;
  const bench::Run &catNamed = named.a, &verifyNamed = named.b;
  const bench::Run pxlib = bench::Best({pxdump, "--read", db.string()}, 1);

  double rebuild = 0, readSort = 0;
  for (int i = 0; i < 3; ++i) {
    start = Clock::now();
    RebuildIndexes(db, def.indexes);
    rebuild = i == 0 ? Seconds(start) : std::min(rebuild, Seconds(start));
    readSort = i == 0 ? ReadAndSort(db) : std::min(readSort, ReadAndSort(db));
  }

  const double mb = 1024.0 * 1024.0;
  const double primaryBytes = static_cast<double>(Bytes(primaryFiles));
  const double namedBytes = static_cast<double>(Bytes(namedFiles));
  std::printf("records                         %ld\n", records);
  std::printf("table size (.DB)                %.1f MiB\n",
              static_cast<double>(fs::file_size(db)) / mb);
  std::printf("create (.DB, .PX, 2 indexes)    %.3f s\n", create);
  std::printf("create peak memory (VmHWM)      %.1f MiB\n", createPeakKb / 1024.0);
  std::printf("cat .DB+.PX                     %.4f s  (%.0f MiB/s)\n", catPrimary.seconds,
              primaryBytes / mb / catPrimary.seconds);
  std::printf(
      "verify primary                  %.4f s  (%.0f MiB/s)  %.2f of cat's throughput (median of 9 "
      "pairs)\n",
      verifyPrimary.seconds, primaryBytes / mb / verifyPrimary.seconds, primary.Median());
  std::printf("cat .DB+.PX+.XG0+.YG0           %.4f s  (%.0f MiB/s)\n", catNamed.seconds,
              namedBytes / mb / catNamed.seconds);
  std::printf(
      "verify named index ByName       %.4f s  (%.0f MiB/s)  %.2f of cat's throughput (median of 9 "
      "pairs)\n",
      verifyNamed.seconds, namedBytes / mb / verifyNamed.seconds, named.Median());
  std::printf("pxlib reading every record      %.4f s  -> verify primary is %.1fx faster\n",
              pxlib.seconds, pxlib.seconds / verifyPrimary.seconds);
  std::printf("verify peak memory (VmHWM)      primary %.1f MiB, named %.1f MiB\n",
              verifyPrimary.peakKb / 1024.0, verifyNamed.peakKb / 1024.0);
  std::printf("rebuild .PX + 2 indexes         %.3f s  (files synced to disk)\n", rebuild);
  std::printf("read .DB + sort both key sets   %.3f s  -> rebuild is %.2fx of read+sort\n",
              readSort, rebuild / readSort);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc >= 3 && std::string(argv[1]) == "verify") {
      VerifyTable(argv[2], argc > 3 ? argv[3] : "");
      bench::ReportPeakToParent();
      return 0;
    }
    fs::path dir;
    long records = 1000000;
    std::string pxdump;
    for (int i = 1; i + 1 < argc; i += 2) {
      const std::string a = argv[i];
      if (a == "--dir")
        dir = argv[i + 1];
      else if (a == "--records")
        records = std::stol(argv[i + 1]);
      else if (a == "--pxdump")
        pxdump = argv[i + 1];
    }
    if (dir.empty() || pxdump.empty() || records < 1) {
      std::fprintf(stderr, "usage: zel_engine_bench --dir DIR --records N --pxdump PATH\n");
      return 2;
    }
    return Figures(dir, records, pxdump);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
