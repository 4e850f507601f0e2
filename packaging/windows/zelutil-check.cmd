@echo off
rem The Start-menu shortcut "ZelUtil check (no repair)": tests every table, changes nothing,
rem and keeps the window open until a key is pressed, so that the lines can be read.
title ZelUtil check (no repair)
"%~dp0zelutil-console.exe" --check-only
echo.
if errorlevel 2 (
  echo The check could not be made: see the lines above.
) else if errorlevel 1 (
  echo A table is not usable: start ZelUtil to repair it.
) else (
  echo Every table is usable.
)
pause
