#!/bin/bash
# What the project can show today: the archive tool packs a small tree on the host, the
# Windows build of the same tool verifies and unpacks it under Wine, and the result is
# compared with the source.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/payload/Data" "$work/payload/Docs/Eng"
printf 'Kalmora demo\r\n' >"$work/payload/readme.txt"
head -c 200000 /dev/urandom >"$work/payload/Data/photos.bin"
seq 1 20000 >"$work/payload/Docs/Eng/manual.txt"

"$top/build/host/bin/kmarc" pack "$work/demo.kmarc" "$work/payload"
echo "Packed $(du -b "$work/demo.kmarc" | cut -f1) bytes:"
"$top/build/host/bin/kmarc" list "$work/demo.kmarc"
wine_run="$top/build/win32/wine-run"
(cd "$work" && "$wine_run" "$top/build/win32/bin/kmarc.exe" verify demo.kmarc)
(cd "$work" && "$wine_run" "$top/build/win32/bin/kmarc.exe" extract demo.kmarc out)
if diff -r "$work/payload" "$work/out" >/dev/null; then
  echo "Unpacked under Wine: identical to the source tree."
else
  echo "Unpacked under Wine: DIFFERS from the source tree." >&2
  exit 1
fi
"$wine_run" --shutdown
