# Cross-building the Windows programs with Debian's MinGW-w64 (32-bit, POSIX threads), for the
# 32-bit Windows 7 and 10 of older tills; they run on 64-bit Windows as well.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZEL_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

