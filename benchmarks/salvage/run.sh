#!/bin/sh
# Salvage figures: builds the benchmark (Release), makes the engine benchmark's keyed table,
# and prints salvage's reading and decoding beside cat, its writing beside the writer's, and
# the peak memory of a whole salvage and of its reading alone (/usr/bin/time -v).
#   benchmarks/salvage/run.sh                  1000000 records
#   RECORDS=100000 BUILD_DIR=/tmp/b benchmarks/salvage/run.sh
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD_DIR:-/tmp/zelutil-salvage-bench-build}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zel-salvage-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_BENCH=ON >/dev/null
ninja -C "$BUILD" -j"${JOBS:-2}" zel_salvage_bench >/dev/null
BENCH="$BUILD/benchmarks/salvage/zel_salvage_bench"

n=${RECORDS:-1000000}
"$BENCH" --dir "$WORK/t" --records "$n"
mkdir -p "$WORK/out"
peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'; }
echo "peak memory, whole salvage          $(peak "$BENCH" salvage "$WORK/t/BENCH.DB" "$WORK/out/NEW.DB") KiB"
echo "peak memory, read+decode only       $(peak "$BENCH" scan "$WORK/t/BENCH.DB") KiB"
echo "peak memory, cat                    $(peak /bin/cat "$WORK/t/BENCH.DB") KiB"
