#!/bin/bash
# Installs every Debian package that the two build trees, the tests and the demo need,
# and any further packages named on the command line (the benchmarks add theirs).
# Quick when everything is present; says exactly what to run when it lacks root.
#   scripts/bootstrap.sh [PACKAGE...]
set -eu

packages=(
  cmake ninja-build make g++ python3
  clang libclang-rt-14-dev lld-14 llvm-14
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 mingw-w64-i686-dev libz-mingw-w64-dev
  zlib1g-dev googletest
  wine wine32:i386 xvfb imagemagick
  icoutils osslsigncode openssl
  groff-base
  "$@"
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

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
