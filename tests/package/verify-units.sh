#!/bin/sh
# The package's systemd units, as installed, pass systemd-analyze verify without a word: any
# output (a warning included) fails. Usage: verify-units.sh BUILD-DIR
set -eu
tree=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-units.XXXXXX")
trap 'rm -rf "$tree"' EXIT
DESTDIR=$tree cmake --install "$1" --prefix /usr >/dev/null
units=$tree/usr/lib/systemd/system
# The system's own units (sysinit.target, timers.target, ...) the ours depend on; ours stay.
cp -an /lib/systemd/system/. "$units/"
# The manual pages are the package's (check-tree.sh); man itself may not be installed here.
out=$(systemd-analyze verify --man=no --root="$tree" zelutil-check@till.service \
  zelutil-check@till.timer 2>&1) && status=0 || status=$?
if [ "$status" -ne 0 ] || [ -n "$out" ]; then
  printf '%s\n' "$out" >&2
  printf 'verify-units: systemd-analyze verify ended %s with the output above\n' "$status" >&2
  exit 1
fi
# What the units promise: a missed check runs at the next boot, at idle I/O, offline.
grep -qx 'Persistent=true' "$units/zelutil-check@.timer"
grep -qx 'IOSchedulingClass=idle' "$units/zelutil-check@.service"
grep -qx 'PrivateNetwork=yes' "$units/zelutil-check@.service"
echo "verify-units: zelutil-check@.service and zelutil-check@.timer verified"
