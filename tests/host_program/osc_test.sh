#!/usr/bin/env bash
# kestrion-host sends the suits live in the VMC protocol over OSC. Debian's
# oscdump (liblo-tools) is the independent receiver: it catches two seconds
# of a recording of two suits, suit k at PORT + k, and the bundles are
# checked against the recording's CSV. Every packet goes to 127.0.0.1.
source "$(dirname "$0")/lib.sh"

# A receiver per suit; each line it prints is stamped with its arrival.
pids=()
trap '[ ${#pids[@]} -eq 0 ] || kill "${pids[@]}"; rm -rf "$work"' EXIT
# mark SUIT PATH: sends PATH to the suit's receiver until it has printed it
# (at most 5 s), and so all that reached it before.
mark() {
  for _ in $(seq 50); do
    oscsend 127.0.0.1 $((port + $1)) "$2"
    grep -q " $2 " "dump$1.txt" && return 0
    sleep 0.1
  done
  return 1
}
listen() {
  for suit in 0 1; do
    : >"dump$suit.txt"
    oscdump -L $((port + suit)) 2>/dev/null > >(while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done >>"dump$suit.txt") &
    pids+=($!)
    mark $suit /ready || return 1
  done
}
for _ in 1 2 3; do
  port=$((20000 + 2 * (RANDOM % 20000)))
  listen && break
  kill "${pids[@]}" 2>/dev/null
  pids=()
done
[ ${#pids[@]} -eq 2 ] || { fail "oscdump does not listen"; finish; }

# stream and view send too; a port nobody listens on (PORT + 2 + k) holds
# nothing up.
for command in stream "view --port 0"; do
  host $command --seconds 0.3 --osc 127.0.0.1:$port --osc 127.0.0.1:$((port + 2))
  expect_exit 0 "$command with --osc"
  expect_in out.txt "Sending VMC over OSC: suit 0 to 127.0.0.1:$port and 127.0.0.1:$((port + 2)); suit 1 to" "$command"
  for suit in 0 1; do
    mark $suit /drained && grep -q ' /VMC/Ext/T ' "dump$suit.txt" || fail "$command: nothing reached suit $suit's receiver"
    : >"dump$suit.txt"
  done
done

host record walk.csv --seconds 2 --osc 127.0.0.1:$port --osc 127.0.0.1:$((port + 2))
expect_exit 0 "record with --osc"
for suit in 0 1; do mark $suit /drained || fail "suit $suit's receiver stopped"; done

# Per bundle: the root, each bone once, OK and the time (vmc_pose_test
# checks the angles); the hips in metres with X mirrored, on the recorded
# path (a bundle carries the sample read, which the recording's frames
# blend with the next, and a late read carries a later one); one bundle per
# frame, sent as the frames were read, not at once.
for suit in 0 1; do
  awk -v suit=$suit -v rate=40 '
    function problem(text) { print "suit " suit ", bundle " bundles ": " text; bad = 1 }
    # How far, in cm, a point is from the recorded hips between frames j and j + 1.
    function min(a, b) { return a < b ? a : b }
    function apart(px, py, pz, j,   dx, dy, dz, t) {
      dx = x[j + 1] - x[j]; dy = y[j + 1] - y[j]; dz = z[j + 1] - z[j]
      t = dx * dx + dy * dy + dz * dz
      t = t > 0 ? ((px - x[j]) * dx + (py - y[j]) * dy + (pz - z[j]) * dz) / t : 0
      t = t < 0 ? 0 : t > 1 ? 1 : t
      return sqrt((x[j] + t * dx - px) ^ 2 + (y[j] + t * dy - py) ^ 2 + (z[j] + t * dz - pz) ^ 2)
    }
    BEGIN {
      bundles = 0  # a subscript: "" until set
      split("Hips LeftUpperLeg LeftLowerLeg LeftFoot RightUpperLeg RightLowerLeg RightFoot Spine LeftShoulder " \
            "LeftUpperArm LeftLowerArm LeftHand RightShoulder RightUpperArm RightLowerArm RightHand Neck Head", b, " ")
      for (i in b) wanted["\"" b[i] "\""] = 1
    }
    FILENAME ~ /csv$/ { if (FNR > 1 && $3 == suit) { x[$1] = $4; y[$1] = $5; z[$1] = $6; frames++ } next }
    $3 ~ /^\/VMC\/Ext\/(Root|Bone)\/Pos$/ && $4 != "sfffffff" { problem("types " $4) }
    $3 == "/VMC/Ext/Root/Pos" {
      if (started) problem("no /VMC/Ext/T")
      started = 1; bones = 0; ok = 0; split("", seen); arrival[bundles] = $1
      if ($5 != "\"root\"") problem("root named " $5)
      next
    }
    $3 == "/VMC/Ext/Bone/Pos" {
      if (!($5 in wanted) || ($5 in seen)) problem("bone " $5 " unknown or twice")
      seen[$5] = 1; bones++
      if ($5 == "\"Hips\"") { hx = $6; hy = $7; hz = $8 }
      next
    }
    $3 == "/drained" { next }
    $3 == "/VMC/Ext/OK" { ok = ($4 == "i" && $5 == 1); next }
    $3 == "/VMC/Ext/T" {
      k = int($5 * rate + 0.5)
      if (!started || bones != 18 || !ok) problem(bones " bones, OK " ok)
      if (k != bundles || !(k in x)) problem("time " $5)
      near = 1e9
      for (j = k < 2 ? 0 : k - 2; j <= k + 40 && j + 1 < frames; j++) near = min(near, apart(-hx * 100, hy * 100, hz * 100, j))
      if (near > 1) problem("hips at " hx " " hy " " hz " m, " near " cm from the recorded path")
      bundles++; started = 0; next
    }
    { problem("unexpected: " $0) }
    END {
      if (frames != 80 || bundles != frames) problem(bundles " bundles for " frames " frames")
      span = arrival[bundles - 1] - arrival[0]
      if (span < 1.85 || span > 2.3) problem("arrivals over " span " s, expected 1.975 s")
      exit bad
    }' FS=, walk.csv FS=' ' "dump$suit.txt" >&2 || fail "what suit $suit's receiver caught"
done

finish
