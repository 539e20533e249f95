# Sourced by the end-to-end tests of kestrion-host. The first argument of a
# test is the program; a Windows program (.exe) runs under Wine, with the
# loader its tree names in KX_WINE (32-bit and 64-bit programs differ).
set -uo pipefail

program=${1:?usage: $0 PROGRAM}
runner=()
[[ $program == *.exe ]] && runner=("${KX_WINE:-wine}")
program_dir=$(cd "$(dirname "$program")" && pwd)
tests_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program="$program_dir/$(basename "$program")"  # the tests run elsewhere
plugin_file=$(ls "$program_dir" | grep -E '^(lib)?KestrionUnique\.(so|dll)$')
# The simulated suits' defaults, whatever the caller's environment says.
unset KESTRION_SIM_SUITS KESTRION_SIM_INIT KESTRION_SIM_NO_OPEN KESTRION_SIM_REPLAY KESTRION_SIM_HANG KESTRION_SIM_READ_MS
failures=0

# Every test works in a fresh folder of its own, removed afterwards.
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrion-host-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

# Runs the program (killed after 60 s, should it hang); its output lands in
# out.txt and err.txt (Windows line ends made plain), its exit code in $status.
host() {
  timeout -s KILL 60 "${runner[@]}" "$program" "$@" >out.txt 2>err.txt </dev/null
  status=$?
  sed -i 's/\r$//' out.txt err.txt
}

# start ARGS...: the program in the background, its process in $pid; ended
# waits for it, like host. The logs are emptied first, so that no wait_for
# reads the last run's before the new one's opens them.
start() { : >out.txt; : >err.txt; "${runner[@]}" "$program" "$@" >out.txt 2>err.txt </dev/null & pid=$!; }
ended() { wait "$pid"; status=$?; sed -i 's/\r$//' out.txt err.txt; }

# wait_for REGEX: until a line of standard output matches (at most 30 s).
wait_for() {
  for _ in $(seq 300); do
    grep -qE -- "$1" out.txt && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "'$1' never shown"; sed 's/^/    /' out.txt err.txt >&2
  return 1
}

# linux_only REASON: true for the Linux program; otherwise says what is
# skipped and why.
linux_only() { [ ${#runner[@]} -eq 0 ] || { echo "skipped for the Windows program: $1"; return 1; }; }

# expect_exit CODE DESCRIPTION: checks the last run's exit code.
expect_exit() {
  [ "$status" -eq "$1" ] || { fail "$2: exit code $status, expected $1"; sed 's/^/    /' out.txt err.txt >&2; }
}

# expect_in FILE TEXT DESCRIPTION: a line of FILE holds TEXT (fixed string).
expect_in() {
  grep -qF -- "$2" "$1" || { fail "$3: '$2' not in $1"; sed 's/^/    /' "$1" >&2; }
}

# The program's own messages on standard error: its lines, not the plug-in's.
own_errors() { grep -v '^plug-in: ' err.txt | grep -v '^Kestrion simulator: '; }

# expect_one_line_error CODE PATTERN DESCRIPTION: exit code CODE and exactly
# one line of our own on standard error, matching PATTERN (extended regex).
expect_one_line_error() {
  expect_exit "$1" "$3"
  [ "$(own_errors | wc -l)" -eq 1 ] && grep -qE -- "^kestrion-host: .*$2" <<<"$(own_errors)" ||
    { fail "$3: not one line of error matching '$2'"; sed 's/^/    /' err.txt >&2; }
}

# expect_error CODE PATTERN ARGS...: runs the program with ARGS, then as above.
expect_error() {
  host "${@:3}"
  expect_one_line_error "$1" "$2" "${*:3}"
}

# expect_no_files DESCRIPTION [NAMES]: nothing is here but the run's logs and
# NAMES (an extended regex).
expect_no_files() {
  local left
  left=$(ls -A | grep -vxE "out.txt|err.txt${2:+|$2}")
  [ -z "$left" ] || fail "$1: files left: $left"
}

# check_bvh FILE RATE FRAMES: the hierarchy (hierarchy.golden), the motion
# header and every frame line of a recording. Prints what is wrong; silent
# when all is well.
check_bvh() {
  sed '/^MOTION$/q' "$1" | diff "$tests_dir/hierarchy.golden" - || return 1
  awk -v rate="$2" -v frames="$3" '
    function problem(text) { print FILENAME ": " text; bad = 1 }
    $1 == "MOTION" { motion = 1; next }
    !motion { next }
    $1 == "Frames:" { count = $2; next }
    $1 == "Frame" && $2 == "Time:" { frameTime = $3; next }
    {
      lines++
      if (NF != 57) problem("frame line " lines " has " NF " values")
      for (i = 1; i <= NF; i++) if ($i !~ /^-?[0-9]+\.[0-9]+$/) { problem("frame line " lines ": not a number: " $i); break }
      if (lines == 1) first = $0; final = $0
      if ($2 < 50 || $2 > 150) problem("frame line " lines ": hips height " $2 " is not in cm")
      # The simulated arms hang from the shoulders at -80 and 80 degrees
      # about Z: a swapped channel order shows here.
      if ($31 != "-80.000" || $32 != "0.000" || $43 != "80.000") problem("frame line " lines ": shoulders " $31 " " $32 " " $43)
    }
    END {
      if (count != lines || count != frames) problem("Frames: " count ", " lines " frame lines, expected " frames)
      d = frameTime - 1 / rate
      if (frameTime == "" || d > 1e-9 || d < -1e-9) problem("Frame Time: " frameTime ", expected 1/" rate)
      if (lines > 1 && first == final) problem("the values do not change over time")
      exit bad
    }' "$1"
}

# check_assimp FILE: Debian's assimp reads the recording and finds the
# skeleton: 18 joints and their 5 end sites as 23 nodes, 18 animated.
check_assimp() {
  assimp info "$1" >assimp.txt 2>&1 && grep -qE '^Nodes: +23$' assimp.txt &&
    grep -qE '^Animation Channels: +18$' assimp.txt || { fail "assimp on $1"; grep -E '^(Nodes|Animation Ch)|rror' assimp.txt >&2; }
  rm -f assimp.txt
}

# start_view ARGS...: `kestrion-host view` in the background on a free port;
# $pid, $port and $base, or an empty $port when it did not start.
start_view() {
  start view --port 0 "$@"
  wait_for '^Viewing .* on http://127\.0\.0\.1:[0-9]+/'
  port=$(sed -nE 's|^Viewing .* on http://127\.0\.0\.1:([0-9]+)/ .*|\1|p' out.txt)
  base=http://127.0.0.1:$port
}

# stop WHAT: Ctrl-C ends the run in the background cleanly: exit 0, "WHAT
# stopped by Ctrl-C", the channel reset.
stop() {
  kill -INT "$pid"
  ended
  expect_exit 0 "$1 stopped"
  expect_in out.txt "$1 stopped by Ctrl-C" "$1 stopped"
  expect_in err.txt "plug-in: Stopped Kestrion driver" "$1 stopped: channel reset"
}

finish() {
  [ "$failures" -eq 0 ] && echo "all checks passed" && exit 0
  echo "$failures check(s) failed" >&2
  exit 1
}
