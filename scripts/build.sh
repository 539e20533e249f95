#!/usr/bin/env bash
# Configures (once) and builds one of the trees under build/, whole or only
# the TARGETs named after its kind:
#   native  g++, the default
#   asan    g++ with AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan    g++ with ThreadSanitizer
#   win32   32-bit Windows, i686-w64-mingw32 (tests run under Wine)
#   win64   64-bit Windows, x86_64-w64-mingw32 (tests run under 64-bit Wine)
#   release g++ optimised, for the benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."

kind=${1:-native}
dir=build/$kind
case "$kind" in
  native)  args=() ;;
  asan)    args=(-DKX_SANITIZE=address) ;;
  tsan)    args=(-DKX_SANITIZE=thread) ;;
  win32)   args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake) ;;
  win64)   args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake) ;;
  release) args=(-DCMAKE_BUILD_TYPE=Release) ;;
  *) echo "unknown build '$kind' (native, asan, tsan, win32, win64, release)" >&2; exit 2 ;;
esac

if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
fi
ninja -C "$dir" "${@:2}" >/dev/null
echo "$dir"
