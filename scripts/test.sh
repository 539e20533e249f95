#!/usr/bin/env bash
# The test command: installs what is missing, builds every build and runs
# every test in each (native, AddressSanitizer, ThreadSanitizer, and the
# 32-bit Windows build under Wine). Fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native win32

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
count() {  # sums "[  TAG ] N" lines of a CTest log
  { grep -hoE "^\[  $1 *\] [0-9]+" "$2" || true; } | awk '{s+=$NF} END {print s+0}'
}
for kind in "${builds[@]}"; do
  log=build/$kind/Testing/Temporary/LastTest.log
  [ -f "$log" ] || continue
  scripts=$(grep -cx 'all checks passed' "$log" || true)
  echo "$kind: $(count PASSED "$log") passed, $(count SKIPPED "$log") skipped, $(count FAILED "$log") failed;" \
       "end-to-end scripts: $scripts passed"
done
exit $status
