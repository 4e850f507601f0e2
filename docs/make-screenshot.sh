#!/bin/sh
# Regenerates docs/zelutil.png: ZelUtil on a demo station with a damaged table, under a private X
# server, at the closing question. Needs a build (default build/release), xvfb and imagemagick.
# Usage: docs/make-screenshot.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-shot.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

"$build/tools/demostation/zel-demostation" --prefix "$prefix" --scale 50 \
  --damage px-stale --damage stale-locks >/dev/null

# The screen is exactly the window's size, so the centred window fills it.
WINEPREFIX="$prefix" ZELUTIL_SIMULATE_POWER_OFF=1 ZEL_BUILD="$build" ZEL_OUT="$root/docs/zelutil.png" \
  xvfb-run -a -s "-screen 0 802x525x24" sh -c '
    "$ZEL_BUILD/zelutil" &
    pid=$!
    i=0
    # Wait until the closing question is up: the run is over and the window is complete.
    until xwininfo -root -tree | grep -q "\"Confirm\""; do
      i=$((i + 1))
      if [ $i -gt 600 ]; then echo "no closing question after 60 s" >&2; kill $pid; exit 1; fi
      sleep 0.1
    done
    sleep 0.4  # the label flashes from here: shown for the first second, then hidden
    import -window root "$ZEL_OUT"
    kill $pid
  '
echo "wrote $root/docs/zelutil.png"
