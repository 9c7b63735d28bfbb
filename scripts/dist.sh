#!/bin/bash
# make dist: the packager's kit in dist/, built from the sources:
#   ZIZeduz.exe   the launcher without a payload (stripped, no time stamp)
#   kmarc         the archive tool for Linux x86-64 (static, stripped)
#   kmarc.exe     the archive tool for 64-bit Windows (static, stripped)
#   kmarc.1       kmarc's manual page
#   README.md     docs/packaging.md: the payload, the setup program's contract, how to
#                 make, brand and sign a setup; then the manual page's text
#   examples/     the stand-in setup programs in a copy of the demo payload, to try a
#                 setup end to end (named as examples, never to be shipped)
#   SHA256SUMS    the checksums of all of them
# The same sources give the same bytes, whichever folder the build runs in.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dist=$top/dist
linux_tree=$top/build/dist-linux
win64_tree=$top/build/win64
jobs=${JOBS:-2}

cmake --build --preset win32 -j "$jobs" --target ZIZeduz_bare Zephrun lingerx

# A release build of kmarc alone, linked statically so that it runs on any x86-64 Linux.
cmake -S "$top" -B "$linux_tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$top/=" \
  "-DCMAKE_EXE_LINKER_FLAGS=-static -s" \
  -DZLIB_LIBRARY=/usr/lib/x86_64-linux-gnu/libz.a >"$linux_tree.configure.log" 2>&1 ||
  { cat "$linux_tree.configure.log"; exit 1; }
cmake --build "$linux_tree" -j "$jobs" --target kmarc

# kmarc for 64-bit Windows, so that a payload of several GiB fits its address space; the
# launcher stays 32-bit.
cmake -S "$top" -B "$win64_tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-x86_64-mingw.cmake" -DKM_KMARC_TREE=ON \
  >"$win64_tree.configure.log" 2>&1 || { cat "$win64_tree.configure.log"; exit 1; }
cmake --build "$win64_tree" -j "$jobs" --target kmarc

rm -rf "$dist"
mkdir -p "$dist"
cp "$top/build/win32/bare/ZIZeduz.exe" "$dist/ZIZeduz.exe"
cp "$linux_tree/bin/kmarc" "$dist/kmarc"
# strip stamps the file with the time unless SOURCE_DATE_EPOCH says otherwise; the
# linker wrote none.
SOURCE_DATE_EPOCH=0 x86_64-w64-mingw32-strip -o "$dist/kmarc.exe" "$win64_tree/bin/kmarc.exe"
cp "$top/tools/kmarc/kmarc.1" "$dist/kmarc.1"
# The README is the vendors' guide, with the manual page's text for those who read no
# roff (plain text in a fenced block: groff's ASCII output holds no backquote).
{
  cat "$top/docs/packaging.md"
  printf '\n## kmarc reference (the manual page kmarc.1)\n\n```\n'
  groff -man -Tascii -P-cbou "$top/tools/kmarc/kmarc.1"
  printf '```\n'
} >"$dist/README.md"

# The example setup: the demo payload with the stand-ins in SETUPBASE.
examples=$dist/examples
mkdir -p "$examples"
cp "$top/tools/kmarc/EXAMPLES.txt" "$examples/README.txt"
cp -R "$top/demo/payload" "$examples/payload"
for program in Zephrun lingerx; do
  SOURCE_DATE_EPOCH=0 i686-w64-mingw32-strip -o "$examples/payload/SETUPBASE/$program.exe" \
    "$top/build/win32/bin/$program.exe"
done

(cd "$dist" && find . -type f ! -name SHA256SUMS | LC_ALL=C sort | sed 's|^\./||' |
  while IFS= read -r file; do sha256sum "$file"; done >SHA256SUMS)
echo "dist: $(cd "$dist" && ls | tr '\n' ' ')"
grep -v '  examples/payload/' "$dist/SHA256SUMS"
grep -E '  examples/payload/SETUPBASE/[^/]+[.]exe$' "$dist/SHA256SUMS"
echo "($(grep -c '  examples/payload/' "$dist/SHA256SUMS") files in examples/payload, all in SHA256SUMS)"
