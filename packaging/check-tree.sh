#!/bin/sh
# Checks an installed tree of the package (an unpacked .deb, or an install into a temporary
# folder): it holds exactly the files packaging/package-contents.txt lists, and every program
# finds the creator libraries it needs through its RUNPATH.
# Usage: check-tree.sh TREE CONTENTS-LIST
set -eu
tree=$1
list=$2
fail() { printf 'check-tree: %s\n' "$*" >&2; exit 1; }

expected=$(grep -v '^#' "$list" | sort)
actual=$(cd "$tree" && find . ! -type d | sort)
if [ "$expected" != "$actual" ]; then
  printf '%s\n' "$expected" >"$tree.expected"
  printf '%s\n' "$actual" >"$tree.actual"
  diff -u "$tree.expected" "$tree.actual" >&2 || true
  rm -f "$tree.expected" "$tree.actual"
  fail "$tree does not hold what $list lists (diff above: - listed, + found)"
fi

for program in "$tree"/usr/bin/*; do
  name=$(basename "$program")
  needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(lib\(Files\|Index\)\.so\)\]/\1/p')
  [ -n "$needed" ] || continue
  runpath=$(readelf -d "$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ -n "$runpath" ] || fail "$name needs $needed but has no RUNPATH"
  for lib in $needed; do
    found=""
    for dir in $(printf '%s' "$runpath" | tr ':' ' '); do
      dir=$(printf '%s' "$dir" | sed "s|\\\$ORIGIN|$(dirname "$program")|")
      [ -f "$dir/$lib" ] && found="$dir/$lib"
    done
    [ -n "$found" ] || fail "$name: $lib not found through RUNPATH $runpath"
    printf '  %s: %s through RUNPATH %s\n' "$name" "$lib" "$runpath"
  done
done
