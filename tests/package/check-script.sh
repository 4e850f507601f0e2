#!/bin/sh
# The check service's script (packaging/systemd/zelutil-check) with a stand-in zelutil-console
# that records its arguments and WINEPREFIX: the prefix from the user's home or the drop-in, a
# new report in the state folder with old ones pruned, metrics only where node_exporter's
# folder exists, clear refusals. Usage: check-script.sh SCRIPT
set -eu
script=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-check-script.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  printf 'check-script: %s\n' "$*" >&2
  exit 1
}
mkdir "$work/bin" "$work/state" "$work/prefix"
cat >"$work/bin/zelutil-console" <<'STANDIN'
#!/bin/sh
printf '%s\n' "WINEPREFIX=$WINEPREFIX" "$@" >"$ZEL_TEST_ARGS"
exit 1
STANDIN
chmod +x "$work/bin/zelutil-console"
user=$(id -un)
home=$(getent passwd "$user" | cut -d: -f6)
export ZEL_TEST_ARGS="$work/args" STATE_DIRECTORY="$work/state" PATH="$work/bin:$PATH"
export ZELUTIL_TEXTFILE_DIR="$work/textfiles"
unset WINEPREFIX

# The prefix from the home directory: refused when it is not there, named in the error.
if [ ! -d "$home/.wine" ]; then
  err=$(sh "$script" "$user" 2>&1) && fail "a missing prefix was accepted"
  printf '%s' "$err" | grep -qF "no Wine prefix at $home/.wine" || fail "unclear refusal: $err"
fi

# A drop-in's WINEPREFIX; no textfile folder, so no metrics. The console's status is kept.
status=0
WINEPREFIX="$work/prefix" sh "$script" "$user" || status=$?
[ "$status" -eq 1 ] || fail "exit status $status, not the console's 1"
sed -n 1p "$work/args" | grep -qx "WINEPREFIX=$work/prefix" || fail "prefix: $(cat "$work/args")"
sed -n 2,4p "$work/args" | tr '\n' ' ' | grep -qx -- "--check-only --report $work/state/check-[0-9]\{8\}-[0-9]\{6\}\.json " ||
  fail "arguments: $(cat "$work/args")"
[ "$(wc -l <"$work/args")" -eq 4 ] || fail "metrics without their folder: $(cat "$work/args")"

# The textfile folder exists: metrics named after the user. Old reports beyond 99 pruned,
# other files left alone.
mkdir "$work/textfiles"
i=0
while [ $i -lt 105 ]; do
  touch "$work/state/check-2025$(printf '%04d' $((1000 + i)))-120000.json"
  i=$((i + 1))
done
touch "$work/state/notes.txt"
WINEPREFIX="$work/prefix" sh "$script" "$user" || true
sed -n 5,6p "$work/args" | tr '\n' ' ' | grep -qx -- "--metrics $work/textfiles/zelutil-$user.prom " ||
  fail "metrics: $(cat "$work/args")"
[ "$(ls "$work/state" | grep -c '^check-')" -eq 99 ] || fail "pruned to $(ls "$work/state" | wc -l)"
[ ! -e "$work/state/check-20251000-120000.json" ] || fail "the oldest report was kept"
[ -e "$work/state/check-20251104-120000.json" ] || fail "the newest report was pruned"
[ -e "$work/state/notes.txt" ] || fail "a file of another name was removed"

# Bad instance names and unknown users: exit 64 with the reason, the console never started.
rm -f "$work/args"
for bad in "../etc" "-x" "zel-no-such-user-$$"; do
  status=0
  err=$(sh "$script" "$bad" 2>&1) || status=$?
  [ "$status" -eq 64 ] || fail "\"$bad\": exit $status"
  printf '%s' "$err" | grep -q '^zelutil-check: ' || fail "\"$bad\": $err"
done
[ ! -e "$work/args" ] || fail "the console ran for a bad user"
echo "check-script: all cases passed"
