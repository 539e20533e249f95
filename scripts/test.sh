#!/usr/bin/env bash
# The test command: installs what is missing, builds every build and runs
# every test in each (native, AddressSanitizer, ThreadSanitizer, and the
# 32-bit Windows build under Wine). Fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

builds=(native asan tsan win32)
status=0
for kind in "${builds[@]}"; do
  echo "== $kind: building"
  dir=$(scripts/build.sh "$kind")
  echo "== $kind: testing"
  if [ "$kind" = win32 ]; then
    source scripts/wine-setup.sh
  fi
  if ! (cd "$dir" && ctest --output-on-failure); then
    status=1
  fi
done

echo "== test counts (GoogleTest cases) per build"
for kind in "${builds[@]}"; do
  log=build/$kind/Testing/Temporary/LastTest.log
  [ -f "$log" ] || continue
  passed=$(grep -hoE '^\[  PASSED  \] [0-9]+' "$log" | awk '{s+=$4} END {print s+0}')
  skipped=$(grep -hoE '^\[  SKIPPED \] [0-9]+ test' "$log" | awk '{s+=$4} END {print s+0}')
  failed=$(grep -hoE '^\[  FAILED  \] [0-9]+ test' "$log" | awk '{s+=$4} END {print s+0}')
  echo "$kind: $passed passed, $skipped skipped, $failed failed"
done
exit $status
