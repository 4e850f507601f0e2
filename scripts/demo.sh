#!/bin/sh
# Installs what ZelUtil needs, builds it, builds a demo station under a temporary Wine prefix
# and runs ZelUtil on it: the window when a display is there, else the console run. Power-off is
# always simulated. Usage: sudo ./scripts/demo.sh [damage...]  (see zel-demostation --help;
# `healthy` alone builds a station without damage)
. "$(dirname "$0")/common.sh"

zel_install_packages
build="$ZEL_ROOT/build/release"
zel_build "$build" -- zelutil zelutil-console zel-demostation

prefix=$(zel_as_user mktemp -d "${TMPDIR:-/tmp}/zelutil-demo.XXXXXX")
# Without arguments the station gets one damage of each kind the run repairs: stale lock files,
# two lost indexes (rebuilt), a wrecked current-shift table (replaced by a new empty one) and a
# wrecked master-data table whose latest backup is damaged too (restored from the one before).
if [ $# -eq 0 ]; then
  set -- stale-locks px-missing index-missing db-header db-header:PERMDATA/ATTEND \
    backup-damaged:PERMDATA/ATTEND
fi
damage=""
for kind in "$@"; do [ "$kind" = healthy ] || damage="$damage --damage $kind"; done
zel_say "Building a demo station in $prefix"
# shellcheck disable=SC2086
zel_as_user "$build/tools/demostation/zel-demostation" --prefix "$prefix" $damage

export WINEPREFIX="$prefix" ZELUTIL_SIMULATE_POWER_OFF=1
if [ -n "${DISPLAY:-}" ]; then
  zel_say "Running ZelUtil (drive C: is $prefix/drive_c; power-off is simulated)"
  zel_as_user "$build/zelutil"
else
  zel_say "No display: running zelutil-console (drive C: is $prefix/drive_c)"
  status=0
  zel_as_user "$build/tools/console/zelutil-console" --yes --simulate-power-off || status=$?
  zel_say "zelutil-console exited with status $status (0: all tables usable)"
fi
zel_say "The station stays in $prefix; its log is $prefix/drive_c/ZELPOS/ZelUtil.Log"
