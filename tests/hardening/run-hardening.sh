#!/bin/bash
# Runs the launcher's hardening tests under Wine.
#   run-hardening.sh WINE_RUN WINEPREFIX HARDENING_TESTS
# Prepares what a Windows program cannot make under Wine, and says so when it cannot:
#  - a 12 MiB tmpfs as drive L:, more than the 10 MiB the launcher asks for and less than
#    the payload it then unpacks (needs root or CAP_SYS_ADMIN);
#  - links named like the launcher's first candidate names, pointing nowhere, which
#    Wine's probe for existing names does not see;
#  - a temporary folder in which every name the setup folder could get is taken;
#  - native-first loading of the DLLs that the tests plant, which Wine reads from the
#    environment a process starts with.
set -u
wine_run=$1
prefix=$2
tests=$3

"$wine_run" --version >/dev/null 2>&1 || { echo "hardening: cannot start Wine" >&2; exit 1; }

work="$prefix/drive_c/km-hardening"
. "$(dirname "$0")/../e2e/small-drive.sh"
cleanup() {
  unmap_small_drive
  rm -rf "$work"
}
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work/links" "$work/victims" "$work/all-taken"
ln -s "$work/victims/script.bat" "$work/links/0.bat"
ln -s "$work/victims/folder" "$work/links/KMGSetup0"
export KM_HARDENING_LINKS='C:\km-hardening\links\'
export KM_HARDENING_VICTIMS='C:\km-hardening\victims\'

(cd "$work/all-taken" && seq 0 32767 | sed 's/^/KMGSetup/' | xargs mkdir)
export KM_HARDENING_ALL_TAKEN='C:\km-hardening\all-taken\'

if map_small_drive "$prefix" hardening 12m L; then
  export KM_HARDENING_SMALL_DRIVE=L:
else
  export KM_HARDENING_NO_SMALL_DRIVE="$small_drive_reason"
  echo "hardening: $KM_HARDENING_NO_SMALL_DRIVE" >&2
fi

export WINEDLLOVERRIDES="mscoree=;mshtml=;winmm,version,uxtheme,msacm32,dwmapi=n,b"
"$wine_run" "$tests" --gtest_color=no
