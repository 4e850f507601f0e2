#!/bin/sh
# Regenerates docs/zelutil-repairs.png: ZelUtil at the end of a run that cleared stale locks,
# rebuilt indexes, replaced a table and restored one from the shift backup, with the closing
# question open. The replacement warnings are answered with Enter as they appear.
# Needs a build (default build/release), xvfb, imagemagick and xdotool.
# Usage: docs/make-screenshot-repairs.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-repairs.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

"$build/tools/demostation/zel-demostation" --prefix "$prefix" --scale 50 \
  --damage stale-locks --damage px-missing:DISPDATA/DISPLAY --damage db-header:TEMPDATA/PUMPSALE \
  --damage px-missing:PERMDATA/STOCK --damage db-header:PERMDATA/DRIVERS >/dev/null

WINEPREFIX="$prefix" ZELUTIL_SIMULATE_POWER_OFF=1 ZEL_BUILD="$build" \
  ZEL_OUT="$root/docs/zelutil-repairs.png" \
  xvfb-run -a -s "-screen 0 1024x640x24" sh -c '
    "$ZEL_BUILD/zelutil" &
    pid=$!
    i=0
    until xwininfo -root -tree | grep -q "\"Confirm\""; do
      # A replacement warning: press OK.
      for w in $(xdotool search --name "^Information\$" 2>/dev/null); do
        xdotool windowfocus --sync "$w" key Return 2>/dev/null || true
      done
      i=$((i + 1))
      if [ $i -gt 600 ]; then echo "no closing question after 60 s" >&2; kill $pid; exit 1; fi
      sleep 0.1
    done
    sleep 0.4  # the label flashes from here: shown for the first second, then hidden
    import -window root "$ZEL_OUT"
    kill $pid
  '
echo "wrote $root/docs/zelutil-repairs.png"
