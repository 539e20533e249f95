#!/usr/bin/env bash
# Captured motion through the whole chain: a recording of our own skeleton,
# played by a simulated suit, read by the plug-in and recorded again, is the
# source at its own pace. Files that are no replay are refused at once, by
# name. (That recordings hold no frame twice: kestrion_sim_test.)
source "$(dirname "$0")/lib.sh"

# A slow source (10 Hz), so that most frames of a 40 Hz recording of its
# replay fall between two samples of one source frame and are that frame
# exactly; the others blend two samples. It includes a hop (at five
# seconds), whose knees bend past 90 degrees.
host record source.bvh --suits 0 --rate 10 --seconds 5.8 --jumping on
expect_exit 0 "record the source"
KESTRION_SIM_REPLAY=source.bvh host record replayed.bvh --rate 40 --seconds 6
expect_exit 0 "record the replay"
expect_in out.txt "Recording suit 0 at 40 Hz" "one suit per file"
# A third of the recorded frames at least are source frames within the
# printed precision (angles modulo 360), looping; every frame between two
# of them lies within the source frames between theirs (a degree or a
# centimetre apart at most); from the first to the last, the source
# advances a frame per four recorded ones, give or take a second and a half
# that a busy machine may hold the suit library's driver up.
awk '
  function diff(a, b, k,   d) { d = a - b; if (k > 3) d = (d % 360 + 540) % 360 - 180; return d }
  function same(j, line,   k, d) {
    for (k = 1; k <= 57; k++) { d = diff(rec[line, k], src[j, k], k); if (d > 0.0011 || d < -0.0011) return 0 }
    return 1
  }
  function outside(line, a, b,   k, j, lo, hi, d, worst) {
    for (k = 1; k <= 57; k++) {
      lo = 0; hi = 0
      for (j = a; j != b; j = j % n + 1) { d = diff(src[j % n + 1, k], src[a, k], k); if (d < lo) lo = d; if (d > hi) hi = d }
      d = diff(rec[line, k], src[a, k], k)
      if (lo - d > worst) worst = lo - d
      if (d - hi > worst) worst = d - hi
    }
    return worst
  }
  FNR == 1 { file++; motion = 0 }
  /^MOTION/ { motion = 1; next }
  !motion || NF != 57 { next }
  file == 1 { n++; for (k = 1; k <= 57; k++) src[n, k] = $k; next }
  {
    lines++
    for (k = 1; k <= 57; k++) rec[lines, k] = $k
    for (s = 0; s < n && !same((last + s - 1 + n) % n + 1, lines); s++) {}
    if (s == n) next
    j = (last + s - 1 + n) % n + 1
    if (exact++) {
      advanced += s
      for (m = lastLine + 1; m < lines; m++) {
        if (outside(m, last, j) > 1) { print "frame line " m " blends no source frames from " last " to " j; bad = 1 }
      }
    } else {
      firstLine = lines
    }
    last = j; lastLine = lines
  }
  END {
    expected = (lastLine - firstLine) / 4
    if (exact < lines / 3 || advanced < expected - 15 || advanced > expected + 15) {
      print lines " frame lines, " exact " of them source frames, advancing " advanced " source frames rather than " expected
      bad = 1
    }
    exit bad
  }
' source.bvh replayed.bvh >&2 || fail "the replay is not the source at its own pace"
rm -f source.bvh replayed.bvh

# Refused before a byte is read, and the file named: a file far too large
# (sparse), a folder, and on Linux a device and a FIFO, which would never
# end. (Otherwise the suit library would not start within the channel's 5 s.)
truncate -s 2G sparse.bvh
mkdir folder.bvh
refusals=("sparse.bvh:it is 2048.0 MiB, more than the 16 MiB replays may take" "folder.bvh:it is a folder")
if linux_only "a device and a FIFO"; then
  mkfifo fifo.bvh
  refusals+=("/dev/zero:it is not a regular file" "fifo.bvh:it is not a regular file")
fi
for refusal in "${refusals[@]}"; do
  file=${refusal%%:*}
  KESTRION_SIM_REPLAY=$file host record refused.bvh
  expect_exit 1 "replay $file"
  expect_in err.txt "Kestrion simulator: KESTRION_SIM_REPLAY: cannot read '$file': ${refusal#*:}" "replay $file"
done
rm -rf sparse.bvh folder.bvh fifo.bvh
expect_no_files "refused replays"

finish
