#!/bin/bash
# Runs the launcher's hardening tests under Wine.
#   run-hardening.sh WINE_RUN WINEPREFIX HARDENING_TESTS
# Prepares what a Windows program cannot make under Wine, and says so when it cannot:
#  - a 12 MiB tmpfs as drive L:, more than the 10 MiB the launcher asks for and less than
#    the payload it then unpacks (needs root or CAP_SYS_ADMIN);
#  - links named like the launcher's first candidate names, pointing nowhere, which
#    Wine's probe for existing names does not see;
#  - a temporary folder in which every name the script could get is taken;
#  - native-first loading of the DLLs that the tests plant, which Wine reads from the
#    environment a process starts with.
set -u
wine_run=$1
prefix=$2
tests=$3

"$wine_run" --version >/dev/null 2>&1 || { echo "hardening: cannot start Wine" >&2; exit 1; }

work="$prefix/drive_c/km-hardening"
small_mount="$prefix.state/hardening-small-drive"
small_link="$prefix/dosdevices/l:"
mounted=no
cleanup() {
  rm -f "$small_link"
  if [ "$mounted" = yes ]; then
    umount "$small_mount" 2>/dev/null || umount -l "$small_mount" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work/links" "$work/victims" "$work/all-taken"
ln -s "$work/victims/script.bat" "$work/links/0.bat"
ln -s "$work/victims/folder" "$work/links/KMGSetup0"
export KM_HARDENING_LINKS='C:\km-hardening\links\'
export KM_HARDENING_VICTIMS='C:\km-hardening\victims\'

(cd "$work/all-taken" && seq 0 32767 | sed 's/$/.bat/' | xargs touch)
export KM_HARDENING_ALL_TAKEN='C:\km-hardening\all-taken\'

mkdir -p "$small_mount"
rm -f "$small_link"
# A run that was killed may have left its mount behind.
umount "$small_mount" 2>/dev/null
if mount -t tmpfs -o size=12m,mode=0777 km-hardening-small "$small_mount" 2>/tmp/km-hardening-mount.$$; then
  mounted=yes
  ln -s "$small_mount" "$small_link"
  export KM_HARDENING_SMALL_DRIVE=L:
else
  reason=$(tr '\n' ' ' </tmp/km-hardening-mount.$$)
  export KM_HARDENING_NO_SMALL_DRIVE="cannot mount a 12 MiB tmpfs for drive L: (${reason:-mount failed}); mounting needs root or CAP_SYS_ADMIN"
  echo "hardening: $KM_HARDENING_NO_SMALL_DRIVE" >&2
fi
rm -f /tmp/km-hardening-mount.$$

export WINEDLLOVERRIDES="mscoree=;mshtml=;winmm,version,uxtheme,msacm32,dwmapi=n,b"
"$wine_run" "$tests" --gtest_color=no
