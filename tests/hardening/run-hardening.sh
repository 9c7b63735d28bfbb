#!/bin/bash
# Runs the launcher's hardening tests under Wine.
#   run-hardening.sh WINE_RUN WINEPREFIX HARDENING_TESTS
# Prepares what a Windows program cannot make under Wine, and says so when it cannot:
#  - a 12 MiB tmpfs as drive L:, more than the 10 MiB the launcher asks for and less than
#    the payload it then unpacks (needs root or CAP_SYS_ADMIN);
#  - links named like the launcher's first candidate names in the system's temporary
#    folder, pointing nowhere, which Wine's probe for existing names does not see; only
#    while the test of them runs, on its own, since they take those names from every run;
#  - a helper that, when a test asks, puts a link to another folder under a setup
#    folder's name (Wine can make no link itself);
#  - a temporary folder in which every name the setup folder could get is taken;
#  - native-first loading of the DLLs that the tests plant, which Wine reads from the
#    environment a process starts with.
set -u
wine_run=$1
prefix=$2
tests=$3

"$wine_run" --version >/dev/null 2>&1 || { echo "hardening: cannot start Wine" >&2; exit 1; }

work="$prefix/drive_c/km-hardening"
system_temp="$prefix/drive_c/windows/temp"
. "$(dirname "$0")/../e2e/small-drive.sh"
swap_helper=
remove_links() {
  # The links alone, never what they point to.
  for name in 0.bat KMGSetup0; do
    [ -L "$system_temp/$name" ] && rm -f "$system_temp/$name"
  done
  [ -f "$work/swapped-name" ] && [ -L "$system_temp/$(cat "$work/swapped-name")" ] &&
    rm -f "$system_temp/$(cat "$work/swapped-name")"
}
cleanup() {
  [ -n "$swap_helper" ] && kill "$swap_helper" 2>/dev/null
  remove_links
  unmap_small_drive
  rm -rf "$work"
}
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work/victims" "$work/all-taken" "$work/link-target" "$system_temp"
export KM_HARDENING_LINKS='C:\windows\Temp\'
export KM_HARDENING_VICTIMS='C:\km-hardening\victims\'

# The link helper: waits for a request naming a name in the system's temporary folder,
# moves away what is there and links the name to a folder that holds one file.
echo -n theirs > "$work/link-target/keep.txt"
export KM_HARDENING_SWAP_REQUEST='C:\km-hardening\swap-request'
export KM_HARDENING_SWAP_DONE='C:\km-hardening\swap-done'
export KM_HARDENING_LINK_TARGET='C:\km-hardening\link-target'
export KM_HARDENING_UNLINK_REQUEST='C:\km-hardening\unlink-request'
export KM_HARDENING_UNLINK_DONE='C:\km-hardening\unlink-done'
(
  while [ ! -f "$work/swap-request" ]; do sleep 0.02; done
  name=$(cat "$work/swap-request")
  case "$name" in KMGSetup[0-9]*) ;; *) exit 1 ;; esac
  echo "$name" > "$work/swapped-name"
  { [ ! -e "$system_temp/$name" ] || mv "$system_temp/$name" "$work/swapped-away"; } &&
    ln -s "$work/link-target" "$system_temp/$name" && touch "$work/swap-done"
  # Once the test has looked, the link goes (never what it points to).
  while [ ! -f "$work/unlink-request" ]; do sleep 0.02; done
  [ -L "$system_temp/$name" ] && rm -f "$system_temp/$name"
  touch "$work/unlink-done"
) &
swap_helper=$!

(cd "$work/all-taken" && seq 0 32767 | sed 's/^/KMGSetup/' | xargs mkdir)
export KM_HARDENING_ALL_TAKEN='C:\km-hardening\all-taken\'

if map_small_drive "$prefix" hardening 12m L; then
  export KM_HARDENING_SMALL_DRIVE=L:
else
  export KM_HARDENING_NO_SMALL_DRIVE="$small_drive_reason"
  echo "hardening: $KM_HARDENING_NO_SMALL_DRIVE" >&2
fi

export WINEDLLOVERRIDES="mscoree=;mshtml=;winmm,version,uxtheme,msacm32,dwmapi=n,b"
status=0
"$wine_run" "$tests" --gtest_color=no --gtest_filter='-PlantedLinks.*' || status=1
remove_links
ln -s "$work/victims/script.bat" "$system_temp/0.bat"
ln -s "$work/victims/folder" "$system_temp/KMGSetup0"
"$wine_run" "$tests" --gtest_color=no --gtest_filter='PlantedLinks.*' || status=1
exit $status
