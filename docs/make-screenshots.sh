#!/bin/sh
# Regenerates the README's pictures: ZelUtil on a demo station under a private X server, caught at
# the closing question once its run is over.
#   docs/zelutil.png          a stale index and stale lock files
#   docs/zelutil-repairs.png  stale locks cleared, indexes rebuilt, a table replaced and one
#                             restored from the shift backup (warnings answered with Enter)
# Needs a build (default build/release), xvfb, imagemagick and, for the second, xdotool.
# Usage: docs/make-screenshots.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}

# shoot OUTPUT SCREEN DAMAGE...
shoot() {
  out=$1
  screen=$2
  shift 2
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-shot.XXXXXX")
  damage=""
  for kind in "$@"; do damage="$damage --damage $kind"; done
  # shellcheck disable=SC2086  # one word per damage option
  "$build/tools/demostation/zel-demostation" --prefix "$prefix" --scale 50 $damage >/dev/null
  WINEPREFIX="$prefix" ZELUTIL_SIMULATE_POWER_OFF=1 ZEL_BUILD="$build" ZEL_OUT="$out" \
    xvfb-run -a -s "-screen 0 ${screen}x24" sh -c '
      "$ZEL_BUILD/zelutil" &
      pid=$!
      i=0
      # Wait until the closing question is up: the run is over and the window is complete.
      until xwininfo -root -tree | grep -q "\"Confirm\""; do
        # A replacement warning: press OK.
        if command -v xdotool >/dev/null; then
          for w in $(xdotool search --name "^Information\$" 2>/dev/null); do
            xdotool windowfocus --sync "$w" key Return 2>/dev/null || true
          done
        fi
        i=$((i + 1))
        if [ $i -gt 600 ]; then echo "no closing question after 60 s" >&2; kill $pid; exit 1; fi
        sleep 0.1
      done
      sleep 0.4  # the label flashes from here: shown for the first second, then hidden
      import -window root "$ZEL_OUT"
      kill $pid
    '
  rm -rf "$prefix"
  echo "wrote $out"
}

# The screen is exactly the window's size, so the centred window fills it.
shoot "$root/docs/zelutil.png" 802x525 px-stale stale-locks
shoot "$root/docs/zelutil-repairs.png" 1024x640 stale-locks px-missing:DISPDATA/DISPLAY \
  db-header:TEMPDATA/PUMPSALE px-missing:PERMDATA/STOCK db-header:PERMDATA/DRIVERS
