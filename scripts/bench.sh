#!/usr/bin/env bash
# The benchmark command: builds the release tree (build/release, or
# KX_BUILD_DIR), runs every benchmark program and prints each figure beside
# its target. The programs' own output goes to <build>/bench-logs/.
#   KX_BENCH_QUICK=1   short runs, to try the programs out (not figures to quote)
# Any arguments are passed to each program (e.g. --benchmark_filter=GetData).
# Takes about five minutes; best run on an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh bench

dir=${KX_BUILD_DIR:-build/release}
args=(-DCMAKE_BUILD_TYPE=Release -DKX_SANITIZE= -DKX_BUILD_BENCH=ON)
# A tree made here needs no tests; an existing one keeps its choice.
[ -f "$dir/CMakeCache.txt" ] || args+=(-DKX_BUILD_TESTS=OFF)
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
programs=(kx_bench_memory kx_bench_pass kx_bench)
ninja -C "$dir" "${programs[@]}" >/dev/null

# "KestrionMutex" is one lock for every process of this user, so the drivers
# of other programs (tests, hosts) would hold up the benchmarks' workers, and
# the other way round. The programs get a /dev/shm of their own when the
# system allows it (KX_BENCH_SHARED=1 runs them without).
isolate=()
if [ "${KX_BENCH_SHARED:-0}" = 0 ]; then
  for candidate in "unshare --mount --propagation private" \
                   "unshare --user --map-root-user --mount --propagation private"; do
    if $candidate sh -c 'mount -t tmpfs -o mode=1777 kx-bench /dev/shm' 2>/dev/null; then
      read -r -a isolate <<<"$candidate"
      break
    fi
  done
fi
run() {
  if [ ${#isolate[@]} -gt 0 ]; then
    "${isolate[@]}" sh -c 'mount -t tmpfs -o mode=1777 kx-bench /dev/shm && exec "$@"' sh "$@"
  else
    "$@"
  fi
}
if [ ${#isolate[@]} -eq 0 ] && [ -e "/dev/shm/kx-mutex.$(id -u).KestrionMutex" ]; then
  echo "warning: another process holds KestrionMutex; its drivers share the benchmarks' lock" >&2
fi

logs=$dir/bench-logs
mkdir -p "$logs"
table=$logs/table.tsv
: >"$table"
for program in "${programs[@]}"; do
  echo "running $program (output in $logs/$program.txt)"
  KX_BENCH_TABLE=$table run "$dir/bin/$program" "$@" >"$logs/$program.txt" 2>&1 || {
    echo "$program failed; its output:" >&2
    tail -n 30 "$logs/$program.txt" >&2
    exit 1
  }
done

echo
where="a /dev/shm of their own"
[ ${#isolate[@]} -gt 0 ] || where="the shared /dev/shm"
echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), programs run with $where; medians of repetitions"
awk -F'\t' '
  {
    for (i = 1; i <= 4; i++) cell[NR, i] = $i
    if ($5 != "") {
      if (!($5 in mark)) { mark[$5] = ++notes; note[notes] = $5 }
      cell[NR, 4] = $4 " (" mark[$5] ")"
    }
    for (i = 1; i <= 4; i++) if (length(cell[NR, i]) > w[i]) w[i] = length(cell[NR, i])
    if ($4 == "met") met++
    if ($4 == "MISSED") missed++
  }
  END {
    h[1] = "figure"; h[2] = "measured"; h[3] = "target"; h[4] = "verdict"
    for (i = 1; i <= 4; i++) if (length(h[i]) > w[i]) w[i] = length(h[i])
    fmt = "%-" w[1] "s | %-" w[2] "s | %-" w[3] "s | %s\n"
    printf fmt, h[1], h[2], h[3], h[4]
    line = ""; for (i = 0; i < w[1] + w[2] + w[3] + w[4] + 9; i++) line = line "-"; print line
    for (r = 1; r <= NR; r++) printf fmt, cell[r, 1], cell[r, 2], cell[r, 3], cell[r, 4]
    for (n = 1; n <= notes; n++) printf "(%d) %s\n", n, note[n]
    printf "\n%d figures met their targets, %d missed\n", met + 0, missed + 0
  }' <(sort -s -n -k1,1 "$table")
