#!/bin/bash
# make scale: kmarc embed at real scale. Writes a payload of over 1 GiB (bench/
# scale_payload.py), embeds it into the bare launcher with the Linux kmarc and with the
# 64-bit Windows kmarc.exe under Wine at the default level on every processor, and with
# kmarc at zlib's level 6 on one processor and on all; checks that kmarc and kmarc.exe
# wrote the same bytes, and the two level 6 runs too; and compiles an installer of the
# same payload with makensis. Prints peak memory (maximum resident set size, GNU time) and wall time of
# each; a copy goes to build/scale/results.txt. Not part of make test.
#   SCALE_MIB=N   payload size in MiB (default 1088)
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/scale
host_tree=$root/build/bench-host
win64_tree=$root/build/win64
logs=$work/logs
mib=${SCALE_MIB:-1088}

bench/bootstrap.sh
mkdir -p "$logs"

step() { echo "scale: $*"; }
quiet() {
  local log=$logs/$1; shift
  "$@" >"$log" 2>&1 || { cat "$log"; echo "scale: failed, see $log" >&2; exit 1; }
}
# measure NAME COMMAND...: runs it under GNU time; NAME.time holds "peak-KiB seconds".
measure() {
  local name=$1; shift
  /usr/bin/time -f "%M %e" -o "$work/$name.time" "$@" >"$logs/$name.log" 2>&1 ||
    { cat "$logs/$name.log"; echo "scale: $name failed, see $logs/$name.log" >&2; exit 1; }
}

step "building kmarc natively, without sanitizers"
quiet host-configure.log cmake -S . -B "$host_tree" -G Ninja -DCMAKE_BUILD_TYPE=Release
quiet host-build.log cmake --build "$host_tree" --target kmarc
step "building the 64-bit kmarc.exe"
quiet win64-configure.log cmake -S . -B "$win64_tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-mingw.cmake" -DKM_KMARC_TREE=ON
quiet win64-build.log cmake --build "$win64_tree" --target kmarc
step "building the bare launcher and the stand-ins"
[ -f build/win32/build.ninja ] || quiet win32-configure.log cmake --preset win32
quiet win32-build.log cmake --build build/win32 --target ZIZeduz_bare Zephrun lingerx
bare=$root/build/win32/bare/ZIZeduz.exe

payload=$work/payload
if [ "$(cat "$work/payload.mib" 2>/dev/null)" != "$mib" ]; then
  step "writing the payload ($mib MiB)"
  rm -f "$work/payload.mib"
  quiet payload.log python3 bench/scale_payload.py "$payload" --programs build/win32/bin --mib "$mib"
  echo "$mib" >"$work/payload.mib"
fi
files=$(find "$payload" -type f | wc -l)
bytes=$(du -sb --apparent-size "$payload" | cut -f1)
rm -f "$work"/*.exe

# The default level (libdeflate's strongest) on every processor with both kmarcs, then
# zlib's level 6 on one processor and on all: its bytes must not depend on -j either.
step "kmarc embed, default level, every processor ($(nproc))"
measure kmarc-all "$host_tree/bin/kmarc" embed --quiet "$bare" "$payload" -o "$work/setup.exe"

step "kmarc.exe (64-bit) embed under Wine, default level, every processor"
wine64=$win64_tree/wine-run
# The prefix and the Wine server are made ready first, so the measured run is kmarc.exe
# alone: the server is no child of the run, and its memory is not counted.
quiet wine64-start.log "$wine64" cmd /c exit
winpath() { "$wine64" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
measure kmarc-exe "$wine64" "$win64_tree/bin/kmarc.exe" embed --quiet \
  "$(winpath "$bare")" "$(winpath "$payload")" -o "$(winpath "$work")\\setup-win64.exe"
cmp "$work/setup.exe" "$work/setup-win64.exe"
"$wine64" --shutdown

step "kmarc embed --level 6, one processor and every processor"
measure kmarc-zlib-one "$host_tree/bin/kmarc" embed --quiet --level 6 -j 1 "$bare" "$payload" -o "$work/setup-z1.exe"
measure kmarc-zlib-all "$host_tree/bin/kmarc" embed --quiet --level 6 "$bare" "$payload" -o "$work/setup-z.exe"
cmp "$work/setup-z1.exe" "$work/setup-z.exe"

step "makensis, the same payload"
cat >"$work/scale.nsi" <<NSI
Unicode true
SetCompressor zlib
OutFile "$work/setup-nsis.exe"
RequestExecutionLevel user
InstallDir "\$TEMP\\KalmoraScale"
Section
  SetOutPath "\$INSTDIR"
  File /r "$payload/*"
SectionEnd
NSI
measure makensis makensis -V2 "$work/scale.nsi"

row() {  # row LABEL NAME FILE
  local kib secs
  read -r kib secs <"$work/$2.time"
  printf "%-42s %9d MB %8.1f s %10d MB\n" "$1" $((kib * 1024 / 1000000)) "$secs" $(($(stat -c %s "$3") / 1000000))
}
{
  echo "make scale: $files files, $((bytes / 1000000)) MB ($mib MiB), $(nproc) processors"
  printf "%-42s %12s %10s %13s\n" "" "peak memory" "time" "setup size"
  row "kmarc embed (Linux)" kmarc-all "$work/setup.exe"
  row "kmarc.exe embed (Windows x64, under Wine)" kmarc-exe "$work/setup-win64.exe"
  row "kmarc embed --level 6 -j 1 (Linux)" kmarc-zlib-one "$work/setup-z1.exe"
  row "kmarc embed --level 6 (Linux)" kmarc-zlib-all "$work/setup-z.exe"
  row "makensis (zlib)" makensis "$work/setup-nsis.exe"
  echo "kmarc and kmarc.exe wrote the same bytes, and --level 6 the same on 1 and $(nproc) processors (cmp)"
} | tee "$work/results.txt"
