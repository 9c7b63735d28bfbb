#!/bin/bash
# Runs every fuzz target of a host tree for a while on a scratch copy of its corpus.
#   scripts/fuzz.sh BUILD_DIR SECONDS_PER_TARGET
set -eu
build=$1; seconds=$2
list="$build/fuzz-targets.txt"
[ -s "$list" ] || { echo "no fuzz targets in $build"; exit 0; }
status=0
while read -r name corpus; do
  [ -n "$name" ] || continue
  work=$(mktemp -d)
  cp -r "$corpus"/. "$work"/
  echo "== $name: ${seconds}s =="
  cmake --build "$build" --target "$name" >/dev/null
  "$build/bin/$name" -max_total_time="$seconds" -print_final_stats=1 "$work" 2>&1 | tail -n 15 || status=1
  rm -rf "$work"
done <"$list"
exit $status
