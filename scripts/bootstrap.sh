#!/bin/bash
# Installs every Debian package that the two build trees, the tests and the demo need,
# and any further packages named on the command line (the benchmarks add theirs).
# Quick when everything is present; says exactly what to run when it lacks root.
# Also unpacks Debian's source package of libdeflate into .deps/ (see fetch_libdeflate).
#   scripts/bootstrap.sh [PACKAGE...]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build make g++ python3
  clang libclang-rt-14-dev lld-14 llvm-14
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 mingw-w64-i686-dev libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  zlib1g-dev libdeflate-dev dpkg-dev googletest
  wine wine32:i386 wine64 fonts-wine xvfb imagemagick
  icoutils osslsigncode openssl
  groff-base
  "$@"
)

src_list=/etc/apt/sources.list.d/kalmora-deb-src.sources

# The Windows kmarc compiles libdeflate itself, since Debian builds none for mingw. It
# takes the sources of exactly the version the Linux kmarc links (Debian's source
# package, patches applied), so that both write the same bytes. They are unpacked into
# .deps/libdeflate-<version>, where CMake looks for them; never into the repository.
fetch_libdeflate() {
  local source version dest scratch
  read -r source version < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' libdeflate-dev)
  dest=$top/.deps/$source-$version
  [ -f "$dest/libdeflate.h" ] && return 0
  if ! apt-get source --print-uris "$source=$version" >/dev/null 2>&1; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "bootstrap: apt knows no source packages yet; root is needed to add them. Run:" >&2
      echo "  sudo $0" >&2
      exit 1
    fi
    add_source_entries
    apt-get update -q
  fi
  echo "bootstrap: fetching the sources of $source $version into $dest"
  mkdir -p "$top/.deps"
  scratch=$(mktemp -d "$top/.deps/fetch.XXXXXX")
  (cd "$scratch" && apt-get source -q "$source=$version" >fetch.log 2>&1) ||
    { cat "$scratch/fetch.log" >&2; rm -rf "$scratch"; exit 1; }
  rm -rf "$dest"
  mv "$scratch/$source-${version%-*}" "$dest"
  rm -rf "$scratch"
}

# Source entries for the machine's binary ones: the same archives, suites and keys.
add_source_entries() {
  local file
  : >"$src_list.new"
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -e "$file" ] && [ "$file" != "$src_list" ] || continue
    sed -n '/^Types:/{s/^Types:.*/Types: deb-src/};p' "$file" >>"$src_list.new"
    echo >>"$src_list.new"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"${src_list%.sources}.list"
  fi
  mv "$src_list.new" "$src_list"
}

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$pkg")
done
if [ ${#missing[@]} -eq 0 ]; then
  fetch_libdeflate
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
needs_i386=no
dpkg --print-foreign-architectures | grep -qx i386 || needs_i386=yes

if [ "$(id -u)" -ne 0 ]; then
  echo "bootstrap: root is needed to install packages. Run:" >&2
  [ "$needs_i386" = yes ] && echo "  sudo dpkg --add-architecture i386" >&2
  echo "  sudo apt-get update" >&2
  echo "  sudo DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}" >&2
  echo "then run make again." >&2
  exit 1
fi

[ "$needs_i386" = yes ] && dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
fetch_libdeflate
