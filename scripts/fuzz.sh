#!/usr/bin/env bash
# A bounded fuzzing session of the replay readers (BVH and our CSV): clang's
# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, in
# build/fuzz, starting from the corpus in tests/fuzz/corpus.
#   scripts/fuzz.sh [SECONDS]     (default 300)
# An input that crashes, trips a sanitizer, makes a frame that is not
# finite or a message that is not short and printable, takes over 2 s or
# more than 256 MB is written to build/fuzz/ (crash-*, timeout-*, oom-*):
# once it is mended, add it to tests/fuzz/corpus, which the test command
# replays in every build. New inputs found meanwhile are kept in
# build/fuzz/corpus for the next session. Not part of the test command.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
scripts/install-deps.sh fuzz
dir=build/fuzz
if [ ! -f "$dir/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DKX_SANITIZE=address -DKX_FUZZ=ON -DKX_BUILD_BENCH=OFF >/dev/null
fi
ninja -C "$dir" -j2 replay_fuzzer >/dev/null
mkdir -p "$dir/corpus"
"$dir/bin/replay_fuzzer" -max_total_time="$seconds" -timeout=2 -rss_limit_mb=256 -max_len=65536 \
  -dict=tests/fuzz/replay.dict -artifact_prefix="$dir/" -print_final_stats=1 "$dir/corpus" tests/fuzz/corpus
