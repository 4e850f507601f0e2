#!/bin/sh
# Writes windows7-exports.txt: the functions that Windows 7's system DLLs export, as far as the
# Windows programs may import them ("DLL FUNCTION", one a line). Made from Debian's MinGW-w64
# (mingw-w64-x86-64-dev, mingw-w64-i686-dev), not from a Windows installation:
# - kernel32, user32, gdi32, advapi32, comctl32, shell32, bcrypt: every name that MinGW-w64's import
#   library for the DLL (lib<dll>.a, 64- and 32-bit) imports and that MinGW-w64's headers declare
#   when compiling for Windows 7 (_WIN32_WINNT=WINVER=0x0601). The headers guard most functions
#   by the Windows version that brought them (CreateFile2, SetThreadDescription, ... are left
#   out), but not all: the names in `newer` below are Windows 8 functions that MinGW-w64 10
#   declares without a guard, taken out by hand from their documented minimum Windows version.
#   That hand list is not complete; a program importing a function new to the list deserves a
#   look at its documentation.
# - msvcrt.dll: every name MinGW-w64's libmsvcrt.a imports from it. The headers have no version
#   guard for the C runtime (and do not declare its start-up functions), so this part of the list
#   is as MinGW-w64's import library has it.
# Run it again after a change of MinGW-w64 (a new Debian release) and commit the result:
#   tests/windows/make-windows7-exports.sh > tests/windows/windows7-exports.txt
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# imports ARCH-PREFIX DLL: the names the import library imports, without the 32-bit
# decorations (a leading underscore, @N).
imports() {
  "$1-nm" "/usr/$1/lib/lib$2.a" 2>/dev/null | sed -n 's/^[0-9a-f]* I __imp_//p' |
    if [ "$1" = i686-w64-mingw32 ]; then sed -e 's/^_//' -e 's/@[0-9]*$//'; else cat; fi
}

# declared ARCH-PREFIX < names: those of the names the headers declare for Windows 7: every
# identifier left in the preprocessed headers.
declared() {
  printf '#include <windows.h>\n#include <commctrl.h>\n#include <shellapi.h>\n#include <shlobj.h>\n#include <bcrypt.h>\n' |
    "$1-gcc-posix" -D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -E -P -x c - |
    grep -o '[A-Za-z_][A-Za-z0-9_]*' | LC_ALL=C sort -u >"$work/declared"
  LC_ALL=C sort -u | LC_ALL=C comm -12 - "$work/declared"
}

# Windows 8 and later, declared without a version guard by MinGW-w64 10's headers.
newer="GetSystemTimePreciseAsFileTime GetOverlappedResultEx CopyFile2 CreateFileMappingFromApp
InitializeSynchronizationBarrier EnterSynchronizationBarrier DeleteSynchronizationBarrier
IsImmersiveProcess BCryptKeyDerivation"
# shellcheck disable=SC2086  # one word per name
printf '%s\n' $newer | LC_ALL=C sort -u >"$work/newer"

echo "# Functions Windows 7 exports, for the static import check of the Windows programs."
echo "# Made by tests/windows/make-windows7-exports.sh (see there how, and from what) with"
echo "# MinGW-w64 $(dpkg-query -W -f '${Version}' mingw-w64-common 2>/dev/null || echo '?')."
for arch in x86_64-w64-mingw32 i686-w64-mingw32; do
  for dll in kernel32 user32 gdi32 advapi32 comctl32 shell32 bcrypt; do
    imports $arch $dll | grep -E '^[A-Za-z_][A-Za-z0-9_]*$' | declared $arch | sed "s/^/$dll.dll /"
  done
  imports $arch msvcrt | grep -E '^[A-Za-z_][A-Za-z0-9_]*$' | sed 's/^/msvcrt.dll /'
done | LC_ALL=C sort -u | awk 'NR == FNR { newer[$1] = 1; next } !($2 in newer)' "$work/newer" -
