#!/bin/sh
# Engine figures: builds the benchmark and the pxlib dumper (Release), then for each table size
# generates a keyed table with a .PX and two named indexes and prints creation time,
# verification beside cat and pxlib, verification peak memory and rebuild beside read + sort.
#   benchmarks/engine/run.sh                  sizes 100000 and 1000000
#   RECORDS="1000000" BUILD_DIR=/tmp/b benchmarks/engine/run.sh
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD_DIR:-/tmp/zelutil-engine-bench-build}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zel-engine-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_TESTS=ON -DZEL_BENCH=ON >/dev/null
ninja -C "$BUILD" -j"${JOBS:-2}" zel_engine_bench pxdump >/dev/null

for n in ${RECORDS:-100000 1000000}; do
  "$BUILD/benchmarks/engine/zel_engine_bench" --dir "$WORK/t$n" --records "$n" \
    --pxdump "$BUILD/tests/engine_writer/pxdump"
  rm -rf "$WORK/t$n"
  echo
done
