#!/usr/bin/env bash
# What happens during a run. Ctrl-C (SIGINT; under Wine it becomes the
# console's Ctrl-C event): a recording leaves no file and exits 130; a stream
# ends cleanly with 0; both reset the channel first. The other signals that
# end a run do the same, and say which they were; a second signal of any
# kind ends it at once. A file that appears under a recording's name while
# it records is kept, and the recording is not written; with --force, the
# files it would replace stay. A suit library read that hangs ends the run
# at once.
source "$(dirname "$0")/lib.sh"
shm=/dev/shm/kx-mutex.$(id -u).KestrionMutex

signals="INT:130:Ctrl-C:walk.bvh INT:130:Ctrl-C:walk.csv"
linux_only "Wine turns only SIGINT into a console event" &&
  signals="$signals TERM:143:SIGTERM:s.csv HUP:129:SIGHUP:s.bvh QUIT:131:SIGQUIT:s.csv USR1:138:SIGUSR1:s.csv"
for signal in $signals; do
  IFS=: read -r signal code name file <<<"$signal"
  start record "$file" --seconds 60
  wait_for "^Recording suits 0 and 1" && sleep 0.5  # the frames are being written now
  ls -A | grep -q '\.part$' || fail "$name: no temporary files while recording"
  kill -s "$signal" "$pid"
  ended
  expect_one_line_error "$code" "recording stopped by $name; no file written" "$name, $file"
  expect_in err.txt "plug-in: Stopped Kestrion driver" "$name: channel reset"
  expect_no_files "$name, $file"
  [ -z "${runner[*]}" ] && [ -e "$shm" ] && fail "$name: $shm left"
done

start stream
wait_for "^Streaming suits 0 and 1 at 40 Hz until Ctrl-C" && wait_for "^1.00 s  suit 1"
stop Stream
own_errors >/dev/null && fail "stream interrupted: error '$(own_errors)'"

# A second signal, of another kind, ends the run the system's way at once,
# without the clean ending. Both are held while the program is stopped, so
# that they come together.
if linux_only "Wine turns only SIGINT into a console event"; then
  start stream
  wait_for "^Streaming suits 0 and 1" && kill -STOP "$pid" && kill -INT "$pid" && kill -TERM "$pid" && kill -CONT "$pid"
  ended
  [ "$status" -eq 130 ] || [ "$status" -eq 143 ] || fail "SIGINT and SIGTERM: exit code $status, not death by one"
  grep -q "stopped by" out.txt && fail "SIGINT and SIGTERM: the run ended cleanly after both"
  rm -f "$shm"  # what a process ended outright leaves
fi

start record walk.bvh --seconds 3
wait_for "^Recording suits 0 and 1" && echo "not yours" >walk-suit1.bvh
ended
expect_one_line_error 1 "walk-suit1.bvh appeared meanwhile; add --force" "file appeared while recording"
[ "$(cat walk-suit1.bvh)" = "not yours" ] || fail "the file that appeared while recording was replaced"
rm -f walk-suit1.bvh
expect_no_files "file appeared while recording"

echo old >force-suit0.bvh
start record force.bvh --seconds 3 --force
wait_for "^Recording suits 0 and 1" && mkdir force-suit1.bvh
ended
expect_one_line_error 1 "cannot write force-suit1.bvh: " "--force, and a folder appeared while recording"
[ "$(cat force-suit0.bvh)" = old ] || fail "--force: the old force-suit0.bvh was lost"
rmdir force-suit1.bvh
rm -f force-suit0.bvh
expect_no_files "--force, and a folder appeared while recording"

# Only the file a run wrote becomes its recording: a temporary file swapped
# for a link or another file, or removed, or its folder renamed, fails the
# run; nothing of the run's is left, and nothing of the other's is touched.
if linux_only "Windows keeps others from renaming a file open for writing"; then
  echo "keep me" >victim
  while IFS='|' read -r file swap left; do
    mkdir sub
    start record "$file" --seconds 2
    wait_for "^Recording suits 0 and 1" && eval "$swap"
    ended
    expect_one_line_error 1 "cannot write ${file%.*}.*: its (temporary file .* was replaced or removed|folder was moved)" "$swap"
    [ "$(cat victim)" = "keep me" ] || fail "$swap: the file linked to changed"
    rm -f $left
    [ -z "$(find sub moved -mindepth 1 2>/dev/null)" ] || fail "$swap: left $(find sub moved -mindepth 1)"
    rm -rf sub moved
    expect_no_files "$swap" "victim"
  done <<'EOF'
walk.csv|ln -s victim link && mv -f link walk.csv.*.part|walk.csv.*.part
walk.csv|echo other >new && mv -f new walk.csv.*.part|walk.csv.*.part
walk.csv|rm walk.csv.*.part|
sub/walk.bvh|mv sub moved|
EOF
  rm victim
fi

# A read that never returns, in each of the simulator's ways, on its 10th
# read: the suit named, no file left, the end within a few seconds of the
# recording's start (the bound on a read is half a second).
for kind in spin mutex pipe wait; do
  KESTRION_SIM_HANG=1:$kind:10 start record hang.bvh --seconds 30
  wait_for "^Recording suits 0 and 1"
  begin=${EPOCHREALTIME/./}
  ended
  expect_one_line_error 1 "suit 1 hangs: its read in the suit library has not returned" "hung read ($kind)"
  ms=$(((${EPOCHREALTIME/./} - begin) / 1000))
  [ $ms -lt 3000 ] || fail "hung read ($kind): ended $ms ms after it started"
  expect_no_files "hung read ($kind)"
done
# The other calls wait for the driver's pass, which the hung read holds;
# which call meets the hang first depends on when the driver's thread runs.
KESTRION_SIM_HANG=0:mutex:0 expect_error 1 "(the plug-in's (Connect|SetNull)|suit 0 hangs: its read) .*has not returned" \
  stream --seconds 30 --set-null

if linux_only "a pipe's reader going away"; then
  "$program" record pipe.bvh --seconds 60 2>err.txt </dev/null | head -1 >out.txt
  status=${PIPESTATUS[0]}
  expect_one_line_error 141 "recording stopped by SIGPIPE; no file written" "closed pipe"
  expect_no_files "closed pipe"
  [ -e "$shm" ] && fail "closed pipe: $shm left"
fi

finish
