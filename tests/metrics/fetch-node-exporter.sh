#!/bin/sh
# Unpacks Debian's prometheus-node-exporter into DIR (DIR/usr/bin/prometheus-node-exporter) for
# the metrics test: apt-get download and dpkg-deb -x only, so nothing is installed, enabled or
# started on this machine. Does nothing when it is already there. Exit 0 when the program is
# there afterwards; otherwise the reason on stderr and exit 1.
# Usage: fetch-node-exporter.sh DIR
set -eu
dir=$1
program=$dir/usr/bin/prometheus-node-exporter
[ -x "$program" ] && exit 0
work=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-node-exporter.XXXXXX")
trap 'rm -rf "$work"' EXIT
# apt's download user must be able to write the folder.
chmod 0755 "$work"
mkdir "$work/download"
chmod 0777 "$work/download"
if ! (cd "$work/download" && apt-get download -q prometheus-node-exporter) >"$work/log" 2>&1; then
  cat "$work/log" >&2
  echo "fetch-node-exporter: apt-get download prometheus-node-exporter failed (output above)" >&2
  exit 1
fi
mkdir -p "$dir"
dpkg-deb -x "$work"/download/prometheus-node-exporter_*.deb "$work/tree"
mkdir -p "$dir/usr/bin"
cp "$work/tree/usr/bin/prometheus-node-exporter" "$program.part"
mv "$program.part" "$program"
