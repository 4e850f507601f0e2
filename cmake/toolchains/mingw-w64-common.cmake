# What both MinGW-w64 cross-builds share; the architecture's toolchain file sets
# CMAKE_SYSTEM_PROCESSOR and ZEL_MINGW_PREFIX, then includes this one.
# The programs carry their C++ runtime inside them: a clean Windows 7 or later needs no
# MinGW DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)

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
