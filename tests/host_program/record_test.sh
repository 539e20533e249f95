#!/usr/bin/env bash
# kestrion-host record: BVH, one file per suit, read back line by line and by
# an independent reader; CSV, one file with named columns, one row per suit
# per frame; the calibration and modes reaching the suits; falling behind.
source "$(dirname "$0")/lib.sh"

# Two suits (the simulator's default): walk-suit0.bvh and walk-suit1.bvh.
# One chosen suit of three: the name as given, a frame time not round.
host record walk.bvh --seconds 1.5 --rate 20
expect_exit 0 "record two suits"
for suit in 0 1; do
  expect_in out.txt "Wrote walk-suit$suit.bvh (30 frames" "record two suits"
  check_bvh walk-suit$suit.bvh 20 30 >&2 || fail "walk-suit$suit.bvh is not the recording expected"
  check_assimp walk-suit$suit.bvh
done
cmp -s walk-suit0.bvh walk-suit1.bvh && fail "both suits recorded the same motion"
KESTRION_SIM_SUITS=3 host record one.BVH --suits 2 --seconds 1 --rate 30
expect_exit 0 "record suit 2 of 3"
check_bvh one.BVH 30 30 >&2 || fail "one.BVH is not the recording expected"
check_assimp one.BVH
rm -f walk-suit[01].bvh one.BVH
expect_no_files "BVH recordings"

# The calibration and modes reach the suit asked for, each as given (the
# simulated library's call log; their effect on the motion is the
# simulator's own test's).
KESTRION_SIM_CALL_LOG=calls.txt host record set.bvh --suits 1 --seconds 0.5 --set-null --set-north --ignore-floor on \
  --jumping off --uneven-terrain off
expect_exit 0 "record with settings"
h=$((1263599617 + 1))  # suit 1's handle
[ "$(grep -E 'Gyro(Set|Enable)' calls.txt | tr -d '\r' | paste -sd' ')" = "GyroEnableJumping($h, 0) GyroEnableUnevenTerrain($h, 0) \
GyroEnableIgnoreFloor($h, 1) GyroSetNull($h) GyroSetNorth($h)" ] || fail "settings: $(grep -E 'Gyro(Set|Enable)' calls.txt)"
rm -f set.bvh calls.txt

KESTRION_SIM_SUITS=3 host record --suits 0,2 walk.csv --seconds 1 --rate 25
expect_exit 0 "record suits 0 and 2 to CSV"
expect_in out.txt "Wrote walk.csv (25 frames" "record to CSV"
# The header as csv-header.golden; 25 frames of two suits; frame numbers,
# times and suits in order; 60 numbers a row; the frames move; the
# shoulders' constant angles in their named columns (the simulated arms hang
# at -80 and 80 degrees about Z).
awk -F, -v rate=25 -v header="$(cat "$tests_dir/csv-header.golden")" '
  function problem(text) { print "walk.csv line " NR ": " text; bad = 1 }
  NR == 1 { if ($0 != header) problem("header " $0); for (i = 1; i <= NF; i++) column[$i] = i; next }
  {
    rows++
    if (NF != 60) problem(NF " fields")
    for (i = 1; i <= NF; i++) if ($i !~ /^-?[0-9]+(\.[0-9]+)?$/) problem("not a number: " $i)
    frame = int((rows - 1) / 2); suit = (rows - 1) % 2 ? 2 : 0
    if ($1 != frame || $3 != suit) problem("frame " $1 " suit " $3 ", expected frame " frame " suit " suit)
    d = $2 - frame / rate
    if (d > 0.0001 || d < -0.0001) problem("time " $2 " for frame " frame)
    if ($column["left_shoulder_z_deg"] != "-80.000" || $column["right_shoulder_z_deg"] != "80.000") problem("shoulders")
    if ($column["y_cm"] < 50 || $column["y_cm"] > 150) problem("hips height not in cm: " $column["y_cm"])
    if (frame == 0) start[suit] = $4 " " $6; else if ($4 " " $6 != start[suit]) moved[suit] = 1
  }
  END {
    if (rows != 50) problem(rows " rows, expected 50")
    if (!moved[0] || !moved[2]) problem("a suit does not move")
    exit bad
  }' walk.csv >&2 || fail "walk.csv is not the recording expected"
rm -f walk.csv
expect_no_files "record to CSV"

# A suit slower than the rate: each read holds its frame for 0.35 s, and
# the driver pauses 25 ms between reads. Recording starts once a read has
# ended, so the next read holds back all but the first 25 frames, and the
# last of 30 (due at 0.029 s) is read about 0.3 s late, beyond the 0.25 s
# that the program lets pass unsaid. The file is written whole, and the
# program says how far it fell behind and the rate it really read at.
KESTRION_SIM_SUITS=1 KESTRION_SIM_READ_MS=350 host record slow.csv --rate 1000 --seconds 0.03
expect_exit 0 "falling behind"
grep -qE '^kestrion-host: fell [0-9.]+ s behind the rate: 30 frames took [0-9.]+ s rather than 0\.03 s, [0-9.]+ a second rather than 1000$' \
  err.txt || fail "falling behind: not said: $(own_errors)"
[ "$(wc -l <slow.csv)" -eq 31 ] || fail "falling behind: $(wc -l <slow.csv) lines in slow.csv"

finish
