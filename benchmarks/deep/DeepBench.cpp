// Deep check figures on the engine benchmark's table (the same definition, records and two
// named indexes as benchmarks/engine): the deep check beside `cat` over the same files, as a
// fraction of cat's throughput, and its peak memory. Run by benchmarks/deep/run.sh.
//
//   zel_deep_bench --dir DIR --records N   all figures (the table is made once in DIR)
//   zel_deep_bench check DB                (child) one deep check; exit 0 clean, 1 damaged
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/DeepCheck.h"
#include "engine/EngineError.h"
#include "engine/TableWriter.h"

namespace fs = std::filesystem;
using namespace zel::engine;

namespace {

using Clock = std::chrono::steady_clock;

// Peak resident memory of this process image (not inflated by the forked parent's pages).
long PeakKb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  long kb = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
  std::fclose(f);
  return kb;
}

struct Run {
  double seconds = 0;
  long peakKb = 0;
  int status = -1;
};

// Runs a program with stdout to /dev/null; our own child reports its peak on descriptor 3.
Run Spawn(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    if (fds[0] != 3) close(fds[0]);
    dup2(fds[1], 3);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  char buf[64] = {};
  const ssize_t got = read(fds[0], buf, sizeof buf - 1);
  int status = 0;
  waitpid(pid, &status, 0);
  Run r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(fds[0]);
  if (got > 0) r.peakKb = std::atol(buf);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The engine benchmark's table: level 7, keyed on a Long, 38-byte records arriving in a
// scrambled key order, named indexes ByName (Alpha 20) and GroupDay (Short + Date).
void MakeTable(const fs::path& db, long records) {
  TableDef def;
  def.level = 7;
  def.keyFieldCount = 1;
  def.fields = {{"ID", FieldType::LongInt, 0},
                {"Name", FieldType::Alpha, 20},
                {"Group", FieldType::Short, 0},
                {"Amount", FieldType::Money, 0},
                {"Day", FieldType::Date, 0}};
  def.indexes = {{"ByName", {"Name"}, false, false}, {"GroupDay", {"Group", "Day"}, false, false}};
  long next = 0;
  CreateTable(db, def, [&]() -> std::optional<Record> {
    if (next == records) return std::nullopt;
    ++next;
    const long id = (next * 7919) % records + 1;
    char name[21];
    std::snprintf(name, sizeof name, "customer %09ld", (id * 104729) % 1000003);
    return Record{std::int64_t{id}, std::string(name), std::int64_t{id % 97}, id * 0.25,
                  std::int64_t{730000 + id % 3650}};
  });
}

int Figures(const fs::path& dir, long records) {
  fs::create_directories(dir);
  const fs::path db = dir / "BENCH.DB";
  if (!fs::exists(db)) MakeTable(db, records);
  std::vector<std::string> cat = {"/bin/cat"};
  std::uint64_t bytes = 0;
  for (const char* ext : {".DB", ".PX", ".XG0", ".YG0", ".XG1", ".YG1"}) {
    const fs::path f = dir / (std::string("BENCH") + ext);
    cat.push_back(f.string());
    bytes += fs::file_size(f);
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::vector<std::string> check = {self, "check", db.string()};
  // Alternately, so that load from elsewhere on the machine hits both alike.
  const int kPairs = 11;
  Run bestCat, bestCheck;
  std::vector<double> ratios;
  long peakKb = 0;
  for (int i = 0; i < kPairs; ++i) {
    const Run c = Spawn(cat), d = Spawn(check);
    if (c.status != 0 || d.status != 0) {
      std::fprintf(stderr, "cat exit %d, deep check exit %d\n", c.status, d.status);
      return 1;
    }
    if (i == 0 || c.seconds < bestCat.seconds) bestCat = c;
    if (i == 0 || d.seconds < bestCheck.seconds) bestCheck = d;
    peakKb = std::max(peakKb, d.peakKb);
    ratios.push_back(c.seconds / d.seconds);
  }
  std::sort(ratios.begin(), ratios.end());
  const double mib = 1024.0 * 1024.0;
  std::printf("records                      %ld\n", records);
  std::printf("files read                   %.1f MiB (.DB .PX .XG0 .YG0 .XG1 .YG1)\n",
              static_cast<double>(bytes) / mib);
  std::printf("cat, best of %d              %.4f s (%.0f MiB/s)\n", kPairs, bestCat.seconds,
              static_cast<double>(bytes) / mib / bestCat.seconds);
  std::printf("deep check, best of %d       %.4f s (%.0f MiB/s)\n", kPairs, bestCheck.seconds,
              static_cast<double>(bytes) / mib / bestCheck.seconds);
  std::printf("fraction of cat's throughput %.2f (median of %d back-to-back pairs; %.2f to %.2f)\n",
              ratios[ratios.size() / 2], kPairs, ratios.front(), ratios.back());
  std::printf("deep check peak memory       %.1f MiB (VmHWM)\n", peakKb / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "check") {
      const DeepCheckResult r = DeepCheckTable(argv[2]);
      for (const DeepProblem& p : r.problems) std::fprintf(stderr, "%s\n", p.Describe().c_str());
      dprintf(3, "%ld\n", PeakKb());
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
