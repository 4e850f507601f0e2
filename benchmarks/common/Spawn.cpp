#include "benchmarks/common/Spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace zel::bench {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

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

void ReportPeakToParent() {
  dprintf(3, "%ld\n", PeakKb());
}

Run Spawn(const Argv& argv) {
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
    if (fds[0] != 3) close(fds[0]);  // else dup2 below replaces it
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
  r.seconds = Seconds(start);
  close(fds[0]);
  if (got > 0) r.peakKb = std::atol(buf);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

Run Best(const Argv& argv, int n) {
  Run best;
  for (int i = 0; i < n; ++i) {
    Run r = Spawn(argv);
    if (r.status != 0) {
      std::fprintf(stderr, "%s failed with status %d\n", argv[0].c_str(), r.status);
      std::exit(1);
    }
    if (i == 0 || r.seconds < best.seconds) best = r;
  }
  return best;
}

Pair Alternate(const Argv& a, const Argv& b, int n, Runner run) {
  Pair p;
  for (int i = 0; i < n; ++i) {
    p.lastA = run(a);
    p.lastB = run(b);
    if (p.lastA.status != 0 || p.lastB.status != 0) {
      p.completed = false;
      break;
    }
    if (i == 0 || p.lastA.seconds < p.a.seconds) p.a = p.lastA;
    if (i == 0 || p.lastB.seconds < p.b.seconds) p.b = p.lastB;
    p.peakKbA = std::max(p.peakKbA, p.lastA.peakKb);
    p.peakKbB = std::max(p.peakKbB, p.lastB.peakKb);
    p.ratios.push_back(p.lastA.seconds / p.lastB.seconds);
  }
  std::sort(p.ratios.begin(), p.ratios.end());
  return p;
}

}  // namespace zel::bench
