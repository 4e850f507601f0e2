#!/bin/sh
# Writes the fuzzer's seed corpus into $2 from the sample tables under $1: each keyed table
# with its .PX, each heap table alone, in the fuzzer's input framing (u32 LE .DB length, .DB,
# .PX). Tables over 64 KiB are left out to keep runs fast.
set -eu
samples=$1
out=$2
mkdir -p "$out"
find "$samples" -type f \( -iname '*.db' \) -size -64k | while read -r db; do
  base=${db%.*}
  px=""
  for ext in PX px; do
    [ -f "$base.$ext" ] && px="$base.$ext"
  done
  name=$(echo "$db" | sed 's|.*/samples/||; s|/|_|g')
  size=$(stat -c %s "$db")
  {
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((size & 255)) $(((size >> 8) & 255)) \
      $(((size >> 16) & 255)) $(((size >> 24) & 255)))"
    cat "$db"
    if [ -n "$px" ]; then cat "$px"; fi
  } >"$out/$name"
done
