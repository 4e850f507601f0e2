#!/bin/sh
# Builds ZelUtil's Windows installer with wixl (Debian's msitools) from a folder of built
# programs and DLLs. Usage: make-msi.sh BIN_DIR x64|x86 VERSION OUT.msi
set -eu
[ $# -eq 4 ] || { echo "usage: make-msi.sh BIN_DIR x64|x86 VERSION OUT.msi" >&2; exit 64; }
bin=$1 arch=$2 version=$3 out=$4
case "$arch" in
  x64 | x86) ;;
  *) echo "make-msi.sh: architecture must be x64 or x86, not $arch" >&2; exit 64 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
# wixl takes the files from the folder it runs in: a staging folder of their copies.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for file in ZelUtil.exe zelutil-console.exe zelcheck.exe zel-demostation.exe Files.dll Index.dll; do
  cp "$bin/$file" "$stage/"
done
cp "$here/zelutil-check.cmd" "$stage/"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
rm -f "$out"
(cd "$stage" && wixl --arch "$arch" -D Version="$version" -D Arch="$arch" -o "$out" "$here/ZelUtil.wxs")
