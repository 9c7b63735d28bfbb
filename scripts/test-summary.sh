#!/bin/bash
# Adds up the GoogleTest cases that the last ctest run of each tree executed, so that the
# output shows how many cases ran, not only how many executables.
set -u
total_pass=0; total_fail=0
for tree in "$@"; do
  log="$tree/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || { echo "$(basename "$tree"): no test log"; total_fail=$((total_fail + 1)); continue; }
  pass=$(grep -aE '^\[  PASSED  \] [0-9]+ test' "$log" | awk '{s += $4} END {print s + 0}')
  fail=$(grep -aE '^\[  FAILED  \] [0-9]+ test' "$log" | awk '{s += $4} END {print s + 0}')
  execs=$(grep -acE '^[0-9]+/[0-9]+ Test: ' "$log")
  echo "$(basename "$tree"): $pass test cases passed, $fail failed, in $execs test programs"
  total_pass=$((total_pass + pass)); total_fail=$((total_fail + fail))
done
echo "$total_pass passed, $total_fail failed"
[ "$total_fail" -eq 0 ]
