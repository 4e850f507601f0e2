#!/bin/sh
# zelcheck --rebuild's speed: builds the benchmark (Release), makes the benchmarks' keyed table
# with two named indexes, and times the rebuild in place beside a salvage into a new table plus
# the rebuild of its two indexes, best of 5 each, with the median of the back-to-back ratios.
#   benchmarks/rebuild/run.sh                  1000000 records
#   RECORDS=100000 BUILD_DIR=/tmp/b benchmarks/rebuild/run.sh
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD_DIR:-/tmp/zelutil-rebuild-bench-build}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zel-rebuild-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_BENCH=ON >/dev/null
ninja -C "$BUILD" -j"${JOBS:-2}" zel_rebuild_bench >/dev/null
"$BUILD/benchmarks/rebuild/zel_rebuild_bench" --dir "$WORK" --records "${RECORDS:-1000000}"
