#!/bin/sh
# Deep check figures: builds the benchmark (Release), makes the engine benchmark's table of
# 1 000 000 records with its .PX and two named indexes, and the same records as a heap, and prints
# the deep check of each beside cat over the same files and its peak memory. Then the peak memory
# once more as /usr/bin/time -v sees it.
#   benchmarks/deep/run.sh
#   RECORDS=100000 BUILD_DIR=/tmp/b benchmarks/deep/run.sh
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD_DIR:-/tmp/zelutil-deep-bench-build}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zel-deep-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_BENCH=ON >/dev/null
ninja -C "$BUILD" -j"${JOBS:-2}" zel_deep_bench >/dev/null

"$BUILD/benchmarks/deep/zel_deep_bench" --dir "$WORK" --records "${RECORDS:-1000000}"
for t in BENCH HEAP; do
  echo "$t.DB:"
  /usr/bin/time -v "$BUILD/benchmarks/deep/zel_deep_bench" check "$WORK/$t.DB" 3>/dev/null 2>&1 |
    grep -E "Maximum resident|Elapsed"
done
