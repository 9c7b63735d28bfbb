#!/bin/bash
# Installs what only the benchmarks need besides the project's own packages: the peer
# installer's compiler and its stubs, zip/unzip for the host comparison, xz for the
# packing section, and GNU time for the peak memory of `make scale`.
exec "$(dirname "$0")/../scripts/bootstrap.sh" nsis zip unzip xz-utils time
