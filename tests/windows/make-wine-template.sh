#!/bin/sh
# Makes the Wine prefix the Windows tests copy: booted once, with Wine's Mono and Gecko turned
# off (Debian ships neither, and nothing may try to download them). Usage: make-wine-template.sh DIR
set -eu
dir=$1
[ -f "$dir/system.reg" ] && exit 0
rm -rf "$dir.new"
WINEPREFIX="$dir.new" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all wineboot -i
WINEPREFIX="$dir.new" wineserver -w
rm -rf "$dir"
mv "$dir.new" "$dir"
