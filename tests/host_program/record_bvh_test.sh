#!/usr/bin/env bash
# kestrion-host record to BVH: one file per suit, read back line by line and
# by an independent reader.
source "$(dirname "$0")/lib.sh"

# Two suits (the simulator's default): walk-suit0.bvh and walk-suit1.bvh.
host record walk.bvh --seconds 1.5 --rate 20
expect_exit 0 "record two suits"
expect_in out.txt "Wrote walk-suit0.bvh (30 frames" "record two suits"
expect_in out.txt "Wrote walk-suit1.bvh (30 frames" "record two suits"
for f in walk-suit0.bvh walk-suit1.bvh; do
  if [ -f "$f" ]; then
    check_bvh "$f" 20 30 >&2 || fail "$f is not the recording expected"
    check_assimp "$f"
  else
    fail "$f not written"
  fi
done
cmp -s walk-suit0.bvh walk-suit1.bvh && fail "both suits recorded the same motion"
[ -e walk.bvh ] && fail "walk.bvh written beside the per-suit files"
rm -f walk-suit0.bvh walk-suit1.bvh
expect_no_files "record two suits"

# One chosen suit of three: the name as given; a rate whose frame time is
# not a round number.
KESTRION_SIM_SUITS=3 host record one.BVH --suits 2 --seconds 1 --rate 30
expect_exit 0 "record suit 2 of 3"
if [ -f one.BVH ]; then
  check_bvh one.BVH 30 30 >&2 || fail "one.BVH is not the recording expected"
  check_assimp one.BVH
else
  fail "one.BVH not written"
fi
rm -f one.BVH

# The checker itself refuses a damaged file: a missing value, a count that
# disagrees with the lines, a frame time that is not 1/rate.
host record bad.bvh --suits 0 --seconds 0.5
expect_exit 0 "record for the checker"
check_bvh bad.bvh 40 20 >/dev/null || fail "the checker refuses a good file"
sed '$ s/ [^ ]*$//' bad.bvh >cut.bvh
check_bvh cut.bvh 40 20 >/dev/null && fail "the checker misses a frame line of 56 values"
sed '$d' bad.bvh >short.bvh
check_bvh short.bvh 40 20 >/dev/null && fail "the checker misses a Frames: count larger than the lines"
check_bvh bad.bvh 30 20 >/dev/null && fail "the checker misses a frame time that does not match the rate"
sed 's/CHANNELS 3 Zrotation Xrotation Yrotation/CHANNELS 3 Xrotation Yrotation Zrotation/' bad.bvh >order.bvh
check_bvh order.bvh 40 20 >/dev/null && fail "the checker misses another rotation order"
sed 's/JOINT LeftKnee/JOINT Knee/' bad.bvh >tree.bvh
check_bvh tree.bvh 40 20 >/dev/null && fail "the checker misses a joint out of place"
awk '/^MOTION/ { m = 1 } m && NF == 57 { $31 = "0.000" } { print }' bad.bvh >arms.bvh
check_bvh arms.bvh 40 20 >/dev/null && fail "the checker misses angles in the wrong channels"
assimp info short.bvh >/dev/null 2>&1 && fail "assimp reads a file with fewer frame lines than Frames: says"
rm -f bad.bvh cut.bvh short.bvh order.bvh tree.bvh arms.bvh

# The calibration and modes reach the suits: with ignore-floor the hips keep
# one height; null and north make the start the origin, heading 0.
host record set.bvh --suits 1 --seconds 0.5 --set-null --set-north --ignore-floor on --jumping off --uneven-terrain off
expect_exit 0 "record with settings"
awk '/^MOTION/ { m = 1; next } m && NF == 57 {
       n++
       if (n == 1 && ($1 < -10 || $1 > 10 || $3 < -10 || $3 > 10)) { print "not near the null position: " $1 " " $3; bad = 1 }
       if (n == 1 && ($6 < -10 || $6 > 10)) { print "heading not near north: " $6; bad = 1 }
       if ($2 != "93.000") { print "the hips rise and fall with ignore-floor: " $2; bad = 1 }
     } END { exit bad || n == 0 }' set.bvh >&2 || fail "settings without effect"
host record uneven.bvh --suits 1 --seconds 0.5 --ignore-floor on --uneven-terrain on --force
expect_exit 0 "record with uneven terrain"
awk '/^MOTION/ { m = 1; next } m && NF == 57 { seen[$2] = 1 } END { for (h in seen) n++; exit n < 5 }' uneven.bvh ||
  fail "uneven terrain does not move the hips up and down"
rm -f set.bvh uneven.bvh

finish
