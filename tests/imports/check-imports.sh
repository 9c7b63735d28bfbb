#!/bin/bash
# check-imports.sh OBJDUMP BIN_DIR
# Lists the DLL imports of every .exe and .dll in BIN_DIR and fails on any DLL that is not
# part of Windows itself (a C++ runtime, pthread or zlib DLL would make the program fail
# on a clean machine).
set -u
objdump=$1; bin=$2
system_dlls=" kernel32.dll user32.dll gdi32.dll shell32.dll advapi32.dll msvcrt.dll winmm.dll
  comctl32.dll comdlg32.dll ole32.dll oleaut32.dll shlwapi.dll version.dll ws2_32.dll
  uxtheme.dll psapi.dll ntdll.dll "
system_dlls=" $(echo $system_dlls) "  # one blank between names, and around them
status=0; count=0
shopt -s nullglob
for file in "$bin"/*.exe "$bin"/*.dll; do
  count=$((count + 1))
  dlls=$("$objdump" -p "$file" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
  for dll in $dlls; do
    case "$system_dlls" in
      *" $dll "*) ;;
      *) echo "$(basename "$file") imports $dll, which is not a system DLL"; status=1 ;;
    esac
  done
  echo "$(basename "$file"): $(echo $dlls)"
done
[ "$count" -gt 0 ] || { echo "no executables in $bin"; exit 1; }
exit $status
