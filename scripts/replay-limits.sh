#!/usr/bin/env bash
# What refusing or loading hostile and large replay files costs: for each,
# the seconds and the peak memory of a one-tenth-second recording with the
# file replayed (the suit library reads it as it starts), and what the suit
# library said or the recording made. The files: a device, a FIFO, a 2 GB
# sparse file, a legal 29-minute capture of ours (too large), a chain of
# 60,000 joints, a 10 MB frame line, a megabyte of frames of one value, and
# the largest files allowed of our frames and of one-value frames.
#   scripts/replay-limits.sh [PROGRAM]    (default build/native/bin/kestrion-host)
# Uses GNU time (Debian's time: scripts/install-deps.sh fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/private-shm.sh
program=$(realpath "${1:-build/native/bin/kestrion-host}")
work=$(mktemp -d "${TMPDIR:-/tmp}/replay-limits.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

"$program" record own.bvh --suits 0 --rate 40 --seconds 1 >/dev/null 2>&1
# A file of our skeleton (or HIERARCHY on standard input) with the frame
# lines on standard input: bvh NAME FRAMES [HIERARCHY-FILE]
bvh() { { sed -n '1,/^MOTION/p' "${3:-own.bvh}"; printf 'Frames: %s\nFrame Time: 0.025\n' "$2"; cat; } >"$1"; }
# N of our frame lines, over and over, as long as they fit in BYTES.
ours() { awk -v n="$1" -v most="${2:-1e18}" 'f { line[++k] = $0 } /^Frame Time/ { f = 1 }
  END { for (i = 0; i < n && (size += length(line[i % k + 1]) + 1) <= most; i++) print line[i % k + 1] }' own.bvh; }

mkfifo fifo.bvh
truncate -s 2G sparse.bvh
ours 69600 | bvh capture-29-minutes.bvh 69600
hierarchy=$(sed -n '1,/^MOTION/p' own.bvh | wc -c)
ours 100000 $((16 * 1024 * 1024 - hierarchy - 40)) >largest.txt
bvh largest-of-ours.bvh "$(wc -l <largest.txt)" <largest.txt
awk 'BEGIN { print "HIERARCHY\nROOT Hips\n{\nOFFSET 0 0 0\nCHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation"
             for (i = 0; i < 60000; i++) print "JOINT j\n{\nOFFSET 0 1 0\nCHANNELS 3 Zrotation Xrotation Yrotation"
             for (i = 0; i <= 60000; i++) print "}"; print "MOTION\nFrames: 1\nFrame Time: 0.025" }' >chain.bvh
# N lines of WORDS words each: repeat N WORDS WORD
repeat() { awk -v n="$1" -v words="$2" -v word="$3" 'BEGIN { for (i = 0; i < n; i++) { for (k = 1; k < words; k++) printf "%s ", word; print word } }'; }
repeat 1 2621440 1.5 | bvh frame-line-10-MB.bvh 1
sed -n '1,/^MOTION/p' own.bvh | sed 's/CHANNELS 6 .*/CHANNELS 1 Xposition/; s/CHANNELS 3 .*/CHANNELS 0/' >one-value.txt
repeat 500000 1 0 | bvh one-value-frames-1-MB.bvh 500000 one-value.txt
repeat 100000 1 0 | bvh largest-of-one-value-frames.bvh 100000 one-value.txt

printf '%-34s %7s %8s  %s\n' file seconds "peak MB" "what the suit library said, or the recording"
for file in "" /dev/zero fifo.bvh sparse.bvh capture-29-minutes.bvh chain.bvh frame-line-10-MB.bvh \
            one-value-frames-1-MB.bvh largest-of-ours.bvh largest-of-one-value-frames.bvh; do
  /usr/bin/time -o time.txt -f '%e %M' env ${file:+KESTRION_SIM_REPLAY=$file} \
    "$program" record out.bvh --seconds 0.1 --force >out.txt 2>&1 || true
  said=$(grep -hoE '(KESTRION_SIM_REPLAY: .*|Wrote .*)' out.txt | head -1 | cut -c 1-110)
  tail -1 time.txt | awk -v file="${file:-(no replay)}" -v said="$said" '{ printf "%-34s %7.2f %8.1f  %s\n", file, $1, $2 / 1024, said }'
done
