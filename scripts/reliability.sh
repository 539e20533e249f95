#!/usr/bin/env bash
# The long reliability runs, beyond the short ones of the test command:
#   - 10,000 random sequences against the reference model (native);
#   - 1,000 cycles of eight channels connected, read from their own
#     threads and reset at once, under AddressSanitizer with leak checking;
#   - 50 hung suit reads of each kind, each ended by a reset, natively and under Wine
#     (the Windows builds that KX_WINDOWS_TESTS picks, as for the test
#     command).
# Sizes can be changed with KX_MODEL_SEQUENCES, KX_SOAK_CYCLES and
# KX_FAULT_ROUNDS. Prints one summary line per run; fails if any run fails.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/windows-tests.sh
scripts/install-deps.sh native "${windows_tests[@]}"
source scripts/private-shm.sh
native=$(scripts/build.sh native)
asan=$(scripts/build.sh asan)

export KX_MODEL_SEQUENCES=${KX_MODEL_SEQUENCES:-10000}
export KX_SOAK_CYCLES=${KX_SOAK_CYCLES:-1000}
export KX_FAULT_ROUNDS=${KX_FAULT_ROUNDS:-50}

run() {  # name, command...: shows the test's own summary line
  local name=$1
  shift
  local start=$SECONDS
  if output=$("$@" 2>&1); then
    echo "$name [$((SECONDS - start)) s]:"
    grep -E 'agree|\[  PASSED  \]' <<<"$output" | sed 's/^/  /'
  else
    printf '%s\n' "$output" | tail -40
    echo "$name: FAILED"
    return 1
  fi
}

run "model (native)" "$native/bin/model_test"
ASAN_OPTIONS=detect_leaks=1 run "many channels, cycle after cycle (AddressSanitizer, leak checking)" "$asan/bin/many_channels_test"
run "hung reads (native)" "$native/bin/fault_survival_test"
for kind in "${windows_tests[@]}"; do
  dir=$(scripts/build.sh "$kind")
  (source scripts/wine-setup.sh "$kind" &&
     run "hung reads ($kind build under Wine)" "$kx_wine" "$dir/bin/fault_survival_test.exe")
done
[ -z "$win32_not_run" ] || echo "hung reads (win32 build): not run: $win32_not_run"
