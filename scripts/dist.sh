#!/bin/bash
# make dist: the packager's kit in dist/, built from the sources:
#   ZIZeduz.exe   the launcher without a payload (stripped, no time stamp)
#   kmarc         the archive tool for Linux x86-64 (static, stripped)
#   kmarc.exe     the archive tool for Windows (static, stripped)
#   README.txt    how to make, check and sign a setup
#   SHA256SUMS    the checksums of the four
# The same sources give the same bytes, whichever folder the build runs in.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dist=$top/dist
linux_tree=$top/build/dist-linux
jobs=${JOBS:-2}

cmake --build --preset win32 -j "$jobs" --target ZIZeduz_bare kmarc

# A release build of kmarc alone, linked statically so that it runs on any x86-64 Linux.
cmake -S "$top" -B "$linux_tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$top/=" \
  "-DCMAKE_EXE_LINKER_FLAGS=-static -s" \
  -DZLIB_LIBRARY=/usr/lib/x86_64-linux-gnu/libz.a >"$linux_tree.configure.log" 2>&1 ||
  { cat "$linux_tree.configure.log"; exit 1; }
cmake --build "$linux_tree" -j "$jobs" --target kmarc

rm -rf "$dist"
mkdir -p "$dist"
cp "$top/build/win32/bare/ZIZeduz.exe" "$dist/ZIZeduz.exe"
cp "$linux_tree/bin/kmarc" "$dist/kmarc"
# strip stamps the file with the time unless SOURCE_DATE_EPOCH says otherwise; the
# linker wrote none.
SOURCE_DATE_EPOCH=0 i686-w64-mingw32-strip -o "$dist/kmarc.exe" "$top/build/win32/bin/kmarc.exe"
cp "$top/tools/kmarc/PACKAGING.txt" "$dist/README.txt"
(cd "$dist" && sha256sum ZIZeduz.exe kmarc kmarc.exe README.txt >SHA256SUMS)
echo "dist: $(cd "$dist" && ls | tr '\n' ' ')"
cat "$dist/SHA256SUMS"
