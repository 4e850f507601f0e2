# Cross-building the Windows programs with Debian's MinGW-w64 (64-bit, POSIX threads).
# The programs carry their C++ runtime inside them: a clean Windows 7 or later needs no
# MinGW DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZEL_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEL_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC 12 warns wrongly about overlapping copies in std::string's operator+ at -O2 and above
# (GCC bug 105651); the Linux build at -O2 does not meet it.
add_compile_options(-Wno-restrict)

# Windows 7 and later.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# Tests and CTest run the programs under Wine.
find_program(ZEL_WINE64 NAMES wine64 wine)
if(ZEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEL_WINE64})
endif()
