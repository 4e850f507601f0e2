#!/bin/sh
# Installs the build into a temporary folder as the package lays it out (/usr) and checks the
# tree. Usage: install-tree.sh BUILD-DIR SOURCE-DIR
set -eu
tree=$(mktemp -d "${TMPDIR:-/tmp}/zelutil-install.XXXXXX")
trap 'rm -rf "$tree"' EXIT
DESTDIR=$tree cmake --install "$1" --prefix /usr >/dev/null
sh "$2/packaging/check-tree.sh" "$tree" "$2/packaging/package-contents.txt"
