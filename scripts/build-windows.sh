#!/bin/sh
# Cross-builds ZelUtil's Windows programs (64-bit, for Windows 7 and later) with Debian's
# MinGW-w64 into build/windows/ and packs them into build/windows/ZelUtil-windows-x64.zip:
# zelutil-console.exe, zelcheck.exe, zel-demostation.exe, Files.dll and Index.dll. The programs
# carry their C++ runtime; nothing else is needed beside them.
# Usage: sudo ./scripts/build-windows.sh [--no-install]
. "$(dirname "$0")/common.sh"

[ "${1:-}" = "--no-install" ] || zel_install_packages "$ZEL_ROOT/scripts/packages-windows.txt"
zel_build_windows "$ZEL_ROOT/build/windows"
