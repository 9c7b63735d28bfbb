#!/bin/bash
# Installs what only the benchmarks need besides the project's own packages: the peer
# installer's compiler and its stubs, zip/unzip for the host comparison, and xz for the
# packing section.
exec "$(dirname "$0")/../scripts/bootstrap.sh" nsis zip unzip xz-utils
