#!/bin/bash
# Installs the Debian packages that only the benchmarks need: the peer installer's
# compiler and its stubs, and zip/unzip for the host comparison.
# Quick when everything is present; says exactly what to run when it lacks root.
set -eu

packages=(nsis zip unzip)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bench bootstrap: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "bench bootstrap: root is needed to install packages. Run:" >&2
  echo "  sudo apt-get update" >&2
  echo "  sudo DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}" >&2
  echo "then run make bench again." >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
