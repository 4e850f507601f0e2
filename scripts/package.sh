#!/bin/sh
# Builds the Debian package build/package/zelutil_<version>_amd64.deb and checks it: its file
# list against packaging/package-contents.txt, that every program finds the creator libraries
# through its RUNPATH (packaging/check-tree.sh), and lintian (errors fail the script; warnings
# are listed).
# Usage: ./scripts/package.sh [--no-install]   (--no-install: the packages are already there)
# ZEL_PACKAGE_BUILD names an existing build folder to package from, kept with its own settings;
# by default build/package-build, configured without tests and benchmarks.
. "$(dirname "$0")/common.sh"

[ "${1:-}" = --no-install ] || zel_install_packages
out="$ZEL_ROOT/build/package"
build=${ZEL_PACKAGE_BUILD:-}
options=""
if [ -z "$build" ]; then
  build="$ZEL_ROOT/build/package-build"
  options="-DZEL_TESTS=OFF -DZEL_BENCH=OFF"
fi
# shellcheck disable=SC2086  # one word per option
zel_build "$build" $options -- \
  zelutil zelutil-console zelcheck zel-demostation Files Index zel_packaging_files

zel_say "Packaging into $out"
version=$(sed -n 's/.*kVersion = "\(.*\)";/\1/p' "$build/generated/zel/Version.h")
[ -n "$version" ] || zel_die "no version in $build/generated/zel/Version.h"
deb="$out/zelutil_${version}_amd64.deb"
rm -f "$deb"
(cd "$build" && zel_as_user cpack -G DEB -B "$out" --config CPackConfig.cmake) >&2
[ -f "$deb" ] || zel_die "cpack did not make $deb"

zel_say "Checking the file list of $deb and the programs' RUNPATH"
tree=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-package.XXXXXX")
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
sh "$ZEL_ROOT/packaging/check-tree.sh" "$tree" "$ZEL_ROOT/packaging/package-contents.txt" >&2

zel_say "lintian $deb"
status=0
lintian --fail-on error "$deb" >"$out/lintian.txt" 2>&1 || status=$?
cat "$out/lintian.txt" >&2
[ "$status" -eq 0 ] || zel_die "lintian found errors in $deb (listed above)"
zel_say "Built $deb ($(grep -c '^W:' "$out/lintian.txt" || true) lintian warnings)"
echo "$deb"
