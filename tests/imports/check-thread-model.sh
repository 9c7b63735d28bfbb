#!/bin/bash
# check-thread-model.sh LINK_MAP...
# The launcher is linked with the toolchain's win32 thread model (cmake/LeanLauncher.cmake),
# so no thread library goes into it. Fails if a launcher's link map shows a member of
# the posix thread library among what was linked, as it does when the launcher is linked
# with the posix model's runtime or something pulls that library in.
set -u
status=0
for map in "$@"; do
  name=${map##*/}
  if [ ! -s "$map" ]; then
    echo "$name: missing or empty"; status=1; continue
  fi
  # A map without the entry point would pass whatever was linked.
  if ! grep -Eq '^ +0x[0-9a-f]+ +_?(WinMain@16|main)$' "$map"; then
    echo "$name: names no entry point; not the map of a linked program"; status=1; continue
  fi
  # Members taken from an archive appear as "library.a(member.o)"; the library given on
  # the command line but not needed appears only as a LOAD line.
  threads=$(grep -Eo '[^ ]*pthread[^ ]*\.a\([^)]*\)' "$map" | sort -u)
  if [ -n "$threads" ]; then
    echo "$name: the thread library is linked in ($(wc -l <<<"$threads") members), for example:"
    head -n 5 <<<"$threads"
    status=1
  else
    echo "$name: no thread library"
  fi
done
exit $status
