#!/bin/sh
# The whole run on a large healthy master-till station, beside the engine's own time for the
# same opens. Usage: benchmarks/run/run.sh [BUILD_DIR] [SCALE]
#   BUILD_DIR  a configured and built tree (default: build); needs zel-demostation,
#              zelutil-console and zel-bench-verify
#   SCALE      records in the large tables (default 1000000)
set -eu
build=${1:-build}
scale=${2:-1000000}
for tool in tools/demostation/zel-demostation tools/console/zelutil-console benchmarks/run/zel-bench-verify; do
  [ -x "$build/$tool" ] || { echo "run.sh: $build/$tool is missing; build it first" >&2; exit 2; }
done

prefix=$(mktemp -d /tmp/zel-bench-run.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
echo "Building a master-till station at scale $scale in $prefix ..."
"$build/tools/demostation/zel-demostation" --prefix "$prefix" --scale "$scale" >/dev/null
du -sh "$prefix/drive_c" | sed 's/^/station size: /'

now_ms() { date +%s%3N; }

# Warm the page cache once so both measurements read from memory.
WINEPREFIX=$prefix "$build/benchmarks/run/zel-bench-verify" >/dev/null

best_engine=
best_run=
for round in 1 2 3; do
  engine=$(WINEPREFIX=$prefix "$build/benchmarks/run/zel-bench-verify" | sed 's/.* in \([0-9.]*\) ms/\1/')
  # The console times its own run (first activation to the end of the closing question) and
  # the pauses inside it; Step 1's two fixed pauses of 1000 ms are not work.
  timing=$(WINEPREFIX=$prefix QT_QPA_PLATFORM=offscreen "$build/tools/console/zelutil-console" \
    --yes --simulate-power-off --timing 2>&1 >/dev/null </dev/null | grep '^timing:') ||
    { echo "run.sh: the console run failed" >&2; exit 1; }
  run=$(echo "$timing" | sed 's/.*run without pauses \([0-9]*\) ms.*/\1/')
  echo "round $round: engine ${engine} ms, console run without pauses ${run} ms ($timing)"
  best_engine=$(echo "$engine ${best_engine:-$engine}" | awk '{print ($1 < $2) ? $1 : $2}')
  best_run=$(( ${best_run:-$run} < run ? ${best_run:-$run} : run ))
done
echo "best: engine ${best_engine} ms, console run without pauses ${best_run} ms," \
  "overhead $(echo "$best_run $best_engine" | awk '{printf "%.0f", ($1 / $2 - 1) * 100}')%"
