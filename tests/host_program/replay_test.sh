#!/usr/bin/env bash
# Captured motion through the whole chain: a BVH file played by a simulated
# suit, read by the plug-in and recorded by the program.
source "$(dirname "$0")/lib.sh"

# A recording of our own skeleton plays back exactly. The source includes a
# hop (at five seconds), whose knees bend past 90 degrees.
host record source.bvh --suits 0 --rate 25 --seconds 5.8 --jumping on
expect_exit 0 "record the source"
KESTRION_SIM_REPLAY=source.bvh host record replayed.bvh --rate 25 --seconds 6
expect_exit 0 "record the replay"
expect_in out.txt "Recording suit 0 at 25 Hz" "one suit per file"
if [ -f replayed.bvh ]; then
  check_bvh replayed.bvh 25 150 >&2 || fail "replayed.bvh is not the recording expected"
  # Every recorded frame is one of the source's, within the printed
  # precision (angles modulo 360), and they come in the source's order.
  awk '
    function near(a, b, angle,   d) {
      d = a - b
      if (angle) { d = d % 360; if (d > 180) d -= 360; if (d < -180) d += 360 }
      return d <= 0.0011 && d >= -0.0011
    }
    function same(i,   k) { for (k = 1; k <= 57; k++) if (!near(src[i, k], $k, k > 3)) return 0; return 1 }
    FNR == 1 { file++ }
    /^MOTION/ { motion = 1; next }
    !motion || NF != 57 { next }
    file == 1 { n++; for (k = 1; k <= 57; k++) src[n, k] = $k; next }
    {
      lines++; found = 0
      for (s = 0; s < n && !found; s++) { i = (last + s) % n + 1; if (same(i)) found = i }
      if (!found) { print "replayed frame " lines " is no frame of the source"; bad = 1; next }
      step = (found - last + n) % n
      if (lines > 1 && step > 10) { print "replayed frame " lines " jumps from source frame " last " to " found; bad = 1 }
      if (lines > 1) advanced += step
      last = found
    }
    FNR == 1 && file == 2 { motion = 0 }
    # At the file'"'"'s own rate, one source frame per recorded frame.
    END {
      if (lines < 100 || advanced < 0.8 * lines || advanced > 1.2 * lines) {
        print "the replay moved on " advanced " source frames in " lines " recorded ones"; bad = 1
      }
      exit bad
    }
  ' source.bvh replayed.bvh >&2 || fail "the replay is not the source, frame for frame"
else
  fail "replayed.bvh not written"
fi
rm -f source.bvh replayed.bvh

# A file that cannot be played: the suit library names file, line and reason
# and does not start.
printf 'HIERARCHY\nROOT Hips\n{\n  OFFSET 0 0 0\n  CHANNELS 3 Xposition Yposition Zposition\n}\nMOTION\nFrames: 1\nFrame Time: 0.04\n1 2\n' >short.bvh
KESTRION_SIM_REPLAY=short.bvh host record bad.bvh --seconds 1
expect_one_line_error 1 "no suits found" "a file that cannot be played"
expect_in err.txt "Kestrion simulator: KESTRION_SIM_REPLAY: short.bvh line 10: 2 values on a frame line, expected 3" \
  "a file that cannot be played"
rm -f short.bvh
expect_no_files "replays"

finish
