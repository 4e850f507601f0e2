# Cross-building the Windows programs with Debian's MinGW-w64 (64-bit, POSIX threads).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZEL_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Tests and CTest run the programs under Wine.
find_program(ZEL_WINE64 NAMES wine64 wine)
if(ZEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEL_WINE64})
endif()
