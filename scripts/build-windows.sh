#!/bin/sh
# Cross-builds ZelUtil's Windows programs for Windows 7 and later with Debian's MinGW-w64, 64-bit
# into build/windows/ and 32-bit into build/windows-x86/ (zelutil-console.exe, zelcheck.exe,
# zel-demostation.exe, ZelUtil.exe, Files.dll and Index.dll), and packs each into
# build/windows/: ZelUtil-windows-x64.zip, ZelUtil-windows-x86.zip and the installers
# ZelUtil-VERSION-x64.msi and ZelUtil-VERSION-x86.msi (wixl). The programs carry their C++
# runtime; nothing else is needed beside them.
# Usage: sudo ./scripts/build-windows.sh [--no-install]
. "$(dirname "$0")/common.sh"

[ "${1:-}" = "--no-install" ] || zel_install_packages "$ZEL_ROOT/scripts/packages-windows.txt"
zel_build_windows "$ZEL_ROOT/build/windows"
