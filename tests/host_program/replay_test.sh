#!/usr/bin/env bash
# Captured motion through the whole chain: a recording of our own skeleton,
# played by a simulated suit, read by the plug-in and recorded again, is the
# source, frame for frame.
source "$(dirname "$0")/lib.sh"

# The source includes a hop (at five seconds), whose knees bend past 90
# degrees.
host record source.bvh --suits 0 --rate 25 --seconds 5.8 --jumping on
expect_exit 0 "record the source"
KESTRION_SIM_REPLAY=source.bvh host record replayed.bvh --rate 25 --seconds 6
expect_exit 0 "record the replay"
expect_in out.txt "Recording suit 0 at 25 Hz" "one suit per file"
# Every recorded frame is one of the source's within the printed precision
# (angles modulo 360), its next or one after it, looping; at the file's own
# rate, one source frame per recorded frame on average. A single step may
# skip up to a third of the loop: the suit plays by the clock, and a busy
# machine may hold the recorder up for a second or two.
awk '
  function same(i,   k, d) {
    for (k = 1; k <= 57; k++) {
      d = src[i, k] - $k
      if (k > 3) d = (d % 360 + 540) % 360 - 180
      if (d > 0.0011 || d < -0.0011) return 0
    }
    return 1
  }
  FNR == 1 { file++; motion = 0 }
  /^MOTION/ { motion = 1; next }
  !motion || NF != 57 { next }
  file == 1 { n++; for (k = 1; k <= 57; k++) src[n, k] = $k; next }
  {
    for (s = 1; s <= n && !same((last + s - 1) % n + 1); s++) {}
    if (s > n || (lines++ && s % n > n / 3)) {
      print "replayed frame " lines " is not the source after frame " last
      exit 1
    }
    advanced += lines > 1 ? s % n : 0
    last = (last + s - 1) % n + 1
  }
  END { if (lines < 100 || advanced < 0.8 * lines || advanced > 1.2 * lines) exit 1 }
' source.bvh replayed.bvh >&2 || fail "the replay is not the source, frame for frame, at its own rate"
rm -f source.bvh replayed.bvh

finish
