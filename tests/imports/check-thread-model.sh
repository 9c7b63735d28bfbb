#!/bin/bash
# check-thread-model.sh NM SYMBOL_FILE...
# The launcher is built with the toolchain's win32 thread model (cmake/LeanLauncher.cmake),
# so no thread library is linked into it. Fails if a launcher's symbols (its .debug file)
# hold any of the posix thread library's, as they do when the launcher is linked by the
# posix toolchain or something pulls that library in.
set -u
nm=$1; shift
status=0
for file in "$@"; do
  name=${file##*/}
  if ! symbols=$("$nm" "$file" 2>&1); then
    echo "$name: cannot read the symbols: $symbols"; status=1; continue
  fi
  # A file without symbols would pass whatever was linked.
  if ! grep -q ' T _WinMain@16$\| T _main$' <<<"$symbols"; then
    echo "$name: holds no entry point symbol; not the symbols of a linked program"; status=1; continue
  fi
  threads=$(grep -i 'pthread' <<<"$symbols")
  if [ -n "$threads" ]; then
    echo "$name: the thread library is linked in ($(wc -l <<<"$threads") symbols), for example:"
    head -n 5 <<<"$threads"
    status=1
  else
    echo "$name: no thread library"
  fi
done
exit $status
