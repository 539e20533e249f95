# Sourced by the end-to-end tests of kestrion-host. The first argument of a
# test is the program; a Windows program (.exe) runs under Wine, with the
# loader its tree names in KX_WINE (32-bit and 64-bit programs differ).
set -uo pipefail

program=${1:?usage: $0 PROGRAM}
case "$program" in
  *.exe) runner=("${KX_WINE:-wine}") ;;
  *) runner=() ;;
esac
program_dir=$(cd "$(dirname "$program")" && pwd)
program="$program_dir/$(basename "$program")"  # the tests run elsewhere
# The simulated suits' defaults, whatever the caller's environment says.
unset KESTRION_SIM_SUITS KESTRION_SIM_INIT KESTRION_SIM_NO_OPEN KESTRION_SIM_REPLAY
failures=0

# Every test works in a fresh folder of its own, removed afterwards.
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrion-host-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# Runs the program with the arguments given; its output lands in out.txt and
# err.txt (Windows line ends made plain) and its exit code in $status.
host() {
  "${runner[@]}" "$program" "$@" >out.txt 2>err.txt </dev/null
  status=$?
  plain_line_ends
}

plain_line_ends() { sed -i 's/\r$//' out.txt err.txt; }

# host_within SECONDS ARGS...: host, killed after SECONDS, for runs that
# could hang.
host_within() {
  timeout -s KILL "$1" "${runner[@]}" "$program" "${@:2}" >out.txt 2>err.txt </dev/null
  status=$?
  plain_line_ends
}

# linux_only REASON: true for the Linux program; otherwise says what is
# skipped and why.
linux_only() {
  [ ${#runner[@]} -eq 0 ] && return 0
  echo "skipped for the Windows program: $1"
  return 1
}

# expect_exit CODE DESCRIPTION: checks the last run's exit code.
expect_exit() {
  if [ "$status" -ne "$1" ]; then
    fail "$2: exit code $status, expected $1"
    sed 's/^/    stdout: /' out.txt >&2
    sed 's/^/    stderr: /' err.txt >&2
  fi
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
  local lines
  lines=$(own_errors | wc -l)
  if [ "$lines" -ne 1 ]; then
    fail "$3: $lines lines of error, expected one"
    sed 's/^/    stderr: /' err.txt >&2
  elif ! grep -qE -- "^kestrion-host: .*$2" <<<"$(own_errors)"; then
    fail "$3: error '$(own_errors)' does not match '$2'"
  fi
}

# expect_no_files DESCRIPTION: nothing but the run's own logs is left here.
expect_no_files() {
  local left
  left=$(ls -A | grep -vxE 'out.txt|err.txt' || true)
  [ -z "$left" ] || fail "$1: files left: $left"
}

# Joint names of the BVH skeleton in file order, each with its parent.
expected_joints="Hips:- LeftHip:Hips LeftKnee:LeftHip LeftAnkle:LeftKnee RightHip:Hips RightKnee:RightHip \
RightAnkle:RightKnee Chest:Hips LeftCollar:Chest LeftShoulder:LeftCollar LeftElbow:LeftShoulder \
LeftWrist:LeftElbow RightCollar:Chest RightShoulder:RightCollar RightElbow:RightShoulder RightWrist:RightElbow \
Neck:Chest Head:Neck"

# check_bvh FILE RATE FRAMES: the hierarchy, the motion header and every
# frame line of a recording. Prints what is wrong; silent when all is well.
check_bvh() {
  awk -v rate="$2" -v frames="$3" -v expected="$expected_joints" '
    function problem(text) { print FILENAME ": " text; bad = 1 }
    BEGIN { joints = 0; depth = 0 }
    NR == 1 && $0 != "HIERARCHY" { problem("does not start with HIERARCHY") }
    !motion && ($1 == "ROOT" || $1 == "JOINT") {
      if (($1 == "ROOT") != (joints == 0)) problem("the root must come first, and only once: " $0)
      name[joints] = $2; parent[joints] = depth > 0 ? stack[depth - 1] : "-"; pending = $2; joints++
    }
    !motion && $1 == "End" && $2 == "Site" { ends[stack[depth - 1]] = 1; endsites++; pending = "End Site" }
    !motion && $1 == "{" { stack[depth++] = pending }
    !motion && $1 == "}" { depth-- }
    !motion && $1 == "CHANNELS" {
      line = $0; sub(/^[ \t]+/, "", line)
      want = joints == 1 ? "CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation" \
                         : "CHANNELS 3 Zrotation Xrotation Yrotation"
      if (line != want) problem("joint " name[joints - 1] ": " line)
      channels += $2
    }
    $1 == "MOTION" { motion = 1; if (depth != 0) problem("unbalanced braces"); next }
    motion && $1 == "Frames:" { count = $2; next }
    motion && $1 == "Frame" && $2 == "Time:" { frameTime = $3; next }
    motion {
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
      n = split(expected, pairs, " ")
      if (joints != n) problem(joints " joints, expected " n)
      for (i = 1; i <= n; i++) {
        split(pairs[i], p, ":")
        if (name[i - 1] != p[1] || parent[i - 1] != p[2]) problem("joint " i ": " name[i - 1] " under " parent[i - 1] ", expected " p[1] " under " p[2])
      }
      if (channels != 57) problem(channels " channels, expected 57")
      if (endsites != 5 || !ends["LeftAnkle"] || !ends["RightAnkle"] || !ends["LeftWrist"] || !ends["RightWrist"] || !ends["Head"])
        problem("end sites must be on the five leaf joints, found " endsites)
      if (!motion) problem("no MOTION")
      if (count != lines) problem("Frames: " count " but " lines " frame lines")
      if (count != frames) problem("Frames: " count ", expected " frames)
      d = frameTime - 1 / rate; if (d < 0) d = -d
      if (frameTime == "" || d > 1e-9) problem("Frame Time: " frameTime ", expected 1/" rate)
      if (lines > 1 && first == final) problem("the values do not change over time")
      exit bad
    }' "$1"
}

# check_assimp FILE: Debian's assimp reads the recording and finds the
# skeleton: 18 joints and their 5 end sites as 23 nodes, 18 animated.
check_assimp() {
  if ! assimp info "$1" >assimp.txt 2>&1; then
    fail "assimp cannot read $1"; tail -5 assimp.txt >&2
  else
    grep -qE '^Nodes: +23$' assimp.txt || fail "assimp: $1 has not 23 nodes: $(grep Nodes assimp.txt)"
    grep -qE '^Animation Channels: +18$' assimp.txt ||
      fail "assimp: $1 has not 18 animated joints: $(grep 'Animation Channels' assimp.txt)"
  fi
  rm -f assimp.txt
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
  exit 0
}
