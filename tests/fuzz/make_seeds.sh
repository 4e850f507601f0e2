#!/bin/sh
# Writes the fuzzer's seed corpus into OUT from tables the project makes (a small demo station
# built by DEMOSTATION, the demo-station builder) and from the Borland sample tables when they are
# there ($ZEL_SAMPLES_DIR, else SAMPLES). Each keyed table goes with its .PX, each heap table
# alone, in the fuzzer's input framing (u32 LE .DB length, .DB, .PX). Tables over 64 KiB are left
# out to keep runs fast. Without the samples it says so on a SKIP line, or fails when
# ZEL_REQUIRE_SAMPLES=1. Usage: make_seeds.sh OUT DEMOSTATION SAMPLES
set -eu
out=$1
demostation=$2
samples=${ZEL_SAMPLES_DIR:-$3}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# seeds_from DIR PREFIX: one seed per table under DIR; prints how many.
seeds_from() {
  find "$1" -type f -iname '*.db' -size -64k | while read -r db; do
    base=${db%.*}
    px=""
    for ext in PX px; do
      [ -f "$base.$ext" ] && px="$base.$ext"
    done
    name=$2_$(echo "${db#"$1"/}" | sed 's|/|_|g')
    size=$(stat -c %s "$db")
    {
      printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((size & 255)) $(((size >> 8) & 255)) \
        $(((size >> 16) & 255)) $(((size >> 24) & 255)))"
      cat "$db"
      if [ -n "$px" ]; then cat "$px"; fi
    } >"$out/$name"
    echo "$name"
  done | wc -l
}

"$demostation" --prefix "$work/station" --scale 20 >/dev/null
made=$(seeds_from "$work/station/drive_c/ZELPOS" project)
[ "$made" -gt 0 ] || { echo "no seed tables in the demo station" >&2; exit 1; }
echo "fuzz seeds: $made from the project's demo-station tables"

if [ -d "$samples" ]; then
  borland=$(seeds_from "$samples" samples)
  echo "fuzz seeds: $borland from the Borland sample tables in $samples"
else
  missing="Borland sample tables not found (set ZEL_SAMPLES_DIR or put them in ../shared/samples; looked in $samples)"
  if [ -n "${ZEL_REQUIRE_SAMPLES:-}" ] && [ "$ZEL_REQUIRE_SAMPLES" != 0 ]; then
    echo "FAIL!  : fuzz_verifier_seeds $missing: cannot seed from them, and ZEL_REQUIRE_SAMPLES is set" >&2
    exit 1
  fi
  echo "SKIP   : fuzz_verifier_seeds $missing: skipping them as fuzz seeds"
fi
