# Fails when any file of the run (run/, steps/, repair/, log/) or of the console's run is
# compiled with a window toolkit's headers on its include path or in its definitions.
# Usage: cmake -DCOMPILE_COMMANDS=<build>/compile_commands.json -P CheckNoToolkit.cmake
file(READ "${COMPILE_COMMANDS}" commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")
set(checked 0)
foreach(i RANGE ${last})
  string(JSON command GET "${commands}" ${i} command)
  # The object file names the target: -o .../zel_run.dir/....o
  if(NOT command MATCHES "-o [^ ]*(zel_run|zel_console)\\.dir/")
    continue()
  endif()
  string(JSON source GET "${commands}" ${i} file)
  if(command MATCHES "([Qq][Tt]6|QtCore|QtWidgets|QtGui|-DQT_|/ui/)")
    message(FATAL_ERROR "${source} is compiled with a toolkit: ${CMAKE_MATCH_1}\n${command}")
  endif()
  math(EXPR checked "${checked} + 1")
endforeach()
if(checked LESS 15)
  message(FATAL_ERROR "only ${checked} files of the run found in ${COMPILE_COMMANDS}")
endif()
message(STATUS "${checked} files of the run compiled without a window toolkit")
