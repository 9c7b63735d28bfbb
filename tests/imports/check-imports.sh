#!/bin/bash
# check-imports.sh OBJDUMP BIN_DIR
# Lists the DLL imports of every .exe and .dll in BIN_DIR and fails on any DLL that is not
# part of Windows itself (a C++ runtime, pthread or zlib DLL would make the program fail
# on a clean machine).
#
# The launcher (ZIZeduz.exe, and e2e_launcher_unelevated.exe, the same program for tests)
# runs elevated from a downloads folder where anybody may have left a DLL named like a
# system one. It may import, at start or delay-loaded, only DLLs that the system always
# takes from its own folder (the known DLLs); it loads every other one at run time by
# its full path.
set -u
objdump=$1; bin=$2
objcopy=${objdump%objdump}objcopy
system_dlls=" kernel32.dll user32.dll gdi32.dll shell32.dll advapi32.dll msvcrt.dll winmm.dll
  comctl32.dll comdlg32.dll ole32.dll oleaut32.dll shlwapi.dll version.dll ws2_32.dll
  uxtheme.dll psapi.dll ntdll.dll "
known_dlls=" advapi32.dll clbcatq.dll combase.dll comdlg32.dll gdi32.dll gdiplus.dll
  imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ntdll.dll
  ole32.dll oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll shcore.dll
  shell32.dll shlwapi.dll user32.dll wldap32.dll ws2_32.dll "
system_dlls=" $(echo $system_dlls) "  # one blank between names, and around them
known_dlls=" $(echo $known_dlls) "

# The DLLs a delay-load table names; the linker keeps their names in the .didat section.
delay_loaded() {
  local section
  section=$(mktemp)
  if "$objcopy" -O binary -j .didat "$1" "$section" 2>/dev/null; then
    tr -c '[:print:]' '\n' <"$section" | grep -i '\.dll$' | tr 'A-Z' 'a-z' | sort -u
  fi
  rm -f "$section"
}

status=0; count=0
shopt -s nullglob
for file in "$bin"/*.exe "$bin"/*.dll; do
  count=$((count + 1))
  name=$(basename "$file")
  dlls=$("$objdump" -p "$file" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
  delayed=$(delay_loaded "$file")
  allowed=$system_dlls; kind="a system DLL"
  case "$name" in
    ZIZeduz.exe|e2e_launcher_unelevated.exe) allowed=$known_dlls; kind="a known DLL" ;;
  esac
  for dll in $dlls $delayed; do
    case "$allowed" in
      *" $dll "*) ;;
      *) echo "$name imports $dll, which is not $kind"; status=1 ;;
    esac
  done
  echo "$name: $(echo $dlls)${delayed:+ (delay-loaded: $(echo $delayed))}"
done
[ "$count" -gt 0 ] || { echo "no executables in $bin"; exit 1; }
exit $status
