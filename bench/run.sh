#!/bin/bash
# make bench: builds the launcher with the benchmark payload in trees of its own, then
# times it side by side with the peer installer, the limit program and, on the host,
# kmarc against unzip; then the packing section (bench/packing.py): kmarc's encoders beside
# makensis and xz -9 on the benchmark payload and on a realistic payload made from this
# machine's own files (bench/realistic_payload.py). Prints the tables; a copy goes to
# build/bench/results.txt, and bench/results.md gets them with the date, the machine and
# the commit.
#   BENCH_RUNS=N   timed runs per row (default 7; each row also has one warm-up run)
#   BENCH_REALISTIC_MB=N  size budget of the realistic payload (default 160)
#   BENCH_SCALE=1  also the scale payloads: 10,000 small files, and one file of 300 MB
#                  (BENCH_SCALE_RUNS rounds, default 3; adds several minutes)
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/bench
host_tree=$root/build/bench-host
win_tree=$root/build/bench-win32
payload=$work/payload
logs=$work/logs
runs=${BENCH_RUNS:-7}
scale_runs=0
[ "${BENCH_SCALE:-0}" = 1 ] && scale_runs=${BENCH_SCALE_RUNS:-3}

bench/bootstrap.sh
mkdir -p "$logs"

step() { echo "bench: $*"; }
# Runs a command with its output in a log that is shown only when it fails.
quiet() {
  local log=$logs/$1; shift
  "$@" >"$log" 2>&1 || { cat "$log"; echo "bench: failed, see $log" >&2; exit 1; }
}

step "checking the benchmark tools"
quiet selftest.log python3 -m unittest discover -s bench -p 'test_*.py'

step "building kmarc natively, without sanitizers"
quiet host-configure.log cmake -S . -B "$host_tree" -G Ninja -DCMAKE_BUILD_TYPE=Release
quiet host-build.log cmake --build "$host_tree" --target kmarc

# The payload folders must exist when the tree is configured; the stand-ins are added
# once they are built, so that every contestant unpacks the very same files. Until then
# KM_STAND_INS lets the configure step pass without them.
step "writing the payload"
quiet payload.log python3 bench/payload.py "$payload"
step "building the launcher with the payload, and the benchmark programs"
quiet win32-configure.log cmake --preset win32 -B "$win_tree" -DKM_PAYLOAD_DIR="$payload" -DKM_STAND_INS=ON \
  -DKM_NATIVE_KMARC="$host_tree/bin/kmarc"
quiet win32-build.log cmake --build "$win_tree" --target Zephrun lingerx kmbench_programs
quiet win32-selftest.log "$win_tree/wine-run" "$win_tree/bin/kmbench-tests.exe"
quiet payload.log python3 bench/payload.py "$payload" --programs "$win_tree/bin"
# The payload keeps fixed file times, so the build could not tell new contents from old.
rm -f "$win_tree/bin/ZIZeduz.exe"
quiet win32-build.log cmake --build "$win_tree" --target ZIZeduz
cat "$logs/payload.log"

step "measuring ($runs runs per row)"
status=0
python3 bench/bench.py --payload "$payload" --win32-build "$win_tree" --kmarc "$host_tree/bin/kmarc" --work "$work/scratch" \
  --runs "$runs" --scale-runs "$scale_runs" --results "$work/results.txt" || status=$?
"$win_tree/wine-run" --shutdown

step "writing the realistic payload"
quiet realistic.log python3 bench/realistic_payload.py "$work/realistic" --megabytes "${BENCH_REALISTIC_MB:-160}"
cat "$logs/realistic.log"
step "measuring packing (several minutes)"
python3 bench/packing.py --kmarc "$host_tree/bin/kmarc" --work "$work/packing" --results "$work/results.txt" \
  "bench payload=$payload" "realistic payload=$work/realistic" || status=$?

# The last results, as bench/README.md points to them: this run's tables with the date,
# the machine and the commit they were measured on. Figures in the docs come from here.
if [ $status -eq 0 ]; then
  # Asked before the file is rewritten, which would count as a local change.
  commit="$(git rev-parse --short HEAD 2>/dev/null)$(git diff --quiet HEAD 2>/dev/null || echo ' with local changes')"
  {
    echo "# Benchmark results"
    echo
    echo "Written by \`make bench\` (bench/run.sh); bench/README.md explains the method."
    echo
    echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "- machine: $(uname -srm), $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
    echo "- commit: $commit"
    echo "- runs per row: $runs; scale rounds: $scale_runs"
    echo
    echo '```'
    cat "$work/results.txt"
    echo '```'
  } >bench/results.md
  step "results written to bench/results.md"
fi
exit $status
