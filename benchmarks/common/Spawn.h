// Running and timing child programs for the benchmarks: wall time, exit status and, for our own
// children, their peak memory.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace zel::bench {

using Clock = std::chrono::steady_clock;
using Argv = std::vector<std::string>;

double Seconds(Clock::time_point since);

// Peak resident memory of this process image. Unlike getrusage's ru_maxrss, VmHWM is not
// inflated by the forked parent's pages before exec.
long PeakKb();

// For a child run by Spawn: hands PeakKb() back to the parent on descriptor 3.
void ReportPeakToParent();

struct Run {
  double seconds = 0;
  long peakKb = 0;  // reported by our own child (ReportPeakToParent), 0 for other programs
  int status = -1;  // exit status, -1 if it did not exit
};

// Runs a program (argv[0] a path) with stdout to /dev/null and descriptor 3 a pipe the peak
// figure comes back on.
Run Spawn(const Argv& argv);

// Best of `n` runs: the figures compare warm-cache reads, not the disk. Exits the benchmark
// with "<program> failed with status N" at the first run that fails.
Run Best(const Argv& argv, int n);

struct Pair {
  Run a, b;                       // best time of each
  long peakKbA = 0, peakKbB = 0;  // highest peak each reported over all its runs
  std::vector<double> ratios;     // a's time over b's in each back-to-back pair, ascending
  bool completed = true;          // false: lastA or lastB failed and the pairs stopped there
  Run lastA, lastB;               // the last pair run

  double Median() const { return ratios[ratios.size() / 2]; }
};

using Runner = Run (*)(const Argv&);

// Runs two programs in turn `n` times, so that load from elsewhere on the machine hits both
// alike. Each run goes through `run` (which may end the benchmark on a failure itself); a pair
// in which either exits with a status other than 0 ends the pairs with `completed` false.
Pair Alternate(const Argv& a, const Argv& b, int n, Runner run = Spawn);

}  // namespace zel::bench
