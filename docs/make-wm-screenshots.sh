#!/bin/sh
# Pictures of ZelUtil under the window managers of tills, on a private X server: the window and
# the closing question at the end of a run on a demo station, as each window manager frames them.
#   docs/zelutil-openbox.png
#   docs/zelutil-icewm.png
# Needs a build (default build/release), xvfb, x11-utils, imagemagick, openbox and icewm.
# Usage: docs/make-wm-screenshots.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}

# shoot WINDOW_MANAGER OUTPUT
shoot() {
  wm=$1
  out=$2
  if ! command -v "$wm" >/dev/null; then
    echo "$wm is not installed: skipping $out" >&2
    return 0
  fi
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-shot.XXXXXX")
  home=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-wm-home.XXXXXX")
  "$build/tools/demostation/zel-demostation" --prefix "$prefix" --scale 50 \
    --damage stale-locks >/dev/null
  WINEPREFIX="$prefix" ZELUTIL_SIMULATE_POWER_OFF=1 ZEL_BUILD="$build" ZEL_OUT="$out" \
    ZEL_WM="$wm" ZEL_WM_HOME="$home" \
    xvfb-run -a -s "-screen 0 1024x700x24" sh -c '
      # The window manager keeps its settings and caches in a home of its own.
      HOME="$ZEL_WM_HOME" XDG_CONFIG_HOME="$ZEL_WM_HOME/.config" \
        XDG_CACHE_HOME="$ZEL_WM_HOME/.cache" "$ZEL_WM" >/dev/null 2>&1 &
      wm=$!
      i=0
      until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
        i=$((i + 1))
        if [ $i -gt 100 ]; then echo "$ZEL_WM did not start within 10 s" >&2; exit 1; fi
        sleep 0.1
      done
      "$ZEL_BUILD/zelutil" &
      pid=$!
      i=0
      # The closing question: the run is over and both kinds of window are up.
      until xwininfo -root -tree | grep -q "\"Confirm\""; do
        i=$((i + 1))
        if [ $i -gt 600 ]; then echo "no closing question after 60 s" >&2; kill $pid; exit 1; fi
        sleep 0.1
      done
      sleep 0.6  # the window manager has drawn its frames
      import -window root "$ZEL_OUT"
      kill $pid
      kill $wm
    '
  rm -rf "$prefix" "$home"
  echo "wrote $out"
}

shoot openbox "$root/docs/zelutil-openbox.png"
shoot icewm "$root/docs/zelutil-icewm.png"
