#!/usr/bin/env bash
# What happens during a run. Ctrl-C (SIGINT; under Wine it becomes the
# console's Ctrl-C event): a recording leaves no file and exits 130; a stream
# ends cleanly with 0; both reset the channel first. The other signals that
# end a run do the same, and say which they were. A file that appears under
# a recording's name while it records is kept, and the recording is not
# written; with --force, the files it would replace stay. A suit library read
# that hangs ends the run at once.
source "$(dirname "$0")/lib.sh"
shm=/dev/shm/kx-mutex.$(id -u).KestrionMutex

# start_host ARGS...: the program in the background, its process in $pid.
start_host() {
  "${runner[@]}" "$program" "$@" >out.txt 2>err.txt </dev/null &
  pid=$!
}

# wait_for TEXT: until standard output shows TEXT (at most 30 s).
wait_for() {
  for _ in $(seq 300); do
    grep -qF -- "$1" out.txt && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

interrupt() {
  kill -INT "$pid"
  status=0
  wait "$pid" || status=$?
  plain_line_ends
}

start_host record walk.bvh --seconds 60
if wait_for "Recording suits 0 and 1"; then
  sleep 1  # the frames are being written now
  grep -q '\.part$' <<<"$(ls -A)" || fail "no temporary files while recording"
  interrupt
  expect_exit 130 "recording interrupted"
  expect_in err.txt "kestrion-host: recording stopped by Ctrl-C; no file written" "recording interrupted"
  expect_in err.txt "plug-in: Stopped Kestrion driver" "recording interrupted: channel reset"
  expect_no_files "recording interrupted"
else
  fail "the recording did not start"; cat out.txt err.txt >&2; kill "$pid"; wait "$pid"
fi

start_host record walk.csv --suits 1 --seconds 60
if wait_for "Recording suit 1"; then
  interrupt
  expect_exit 130 "CSV recording interrupted"
  expect_no_files "CSV recording interrupted"
else
  fail "the CSV recording did not start"; kill "$pid"; wait "$pid"
fi

start_host stream
if wait_for "Streaming suits 0 and 1 at 40 Hz until Ctrl-C" && wait_for "1.00 s  suit 1"; then
  interrupt
  expect_exit 0 "stream interrupted"
  expect_in out.txt "Stream stopped by Ctrl-C" "stream interrupted"
  expect_in err.txt "plug-in: Stopped Kestrion driver" "stream interrupted: channel reset"
  own_errors >/dev/null && fail "stream interrupted: error '$(own_errors)'"
else
  fail "the stream did not start"; cat out.txt err.txt >&2; kill "$pid"; wait "$pid"
fi

start_host record walk.bvh --seconds 3
if wait_for "Recording suits 0 and 1"; then
  echo "not yours" >walk-suit1.bvh
  status=0
  wait "$pid" || status=$?
  plain_line_ends
  expect_one_line_error 1 "walk-suit1.bvh appeared meanwhile; add --force" "file appeared while recording"
  [ "$(cat walk-suit1.bvh)" = "not yours" ] || fail "the file that appeared while recording was replaced"
  [ -e walk-suit0.bvh ] && fail "walk-suit0.bvh kept although the recording was not complete"
  rm -f walk-suit1.bvh
  expect_no_files "file appeared while recording"
else
  fail "the recording did not start"; kill "$pid"; wait "$pid"
fi

echo old >force-suit0.bvh
start_host record force.bvh --seconds 3 --force
if wait_for "Recording suits 0 and 1"; then
  mkdir force-suit1.bvh
  status=0
  wait "$pid" || status=$?
  plain_line_ends
  expect_one_line_error 1 "cannot write force-suit1.bvh: " "--force, and a folder appeared while recording"
  [ "$(cat force-suit0.bvh)" = old ] || fail "--force: the old force-suit0.bvh was lost"
  rmdir force-suit1.bvh
  rm -f force-suit0.bvh
  expect_no_files "--force, and a folder appeared while recording"
else
  fail "the recording did not start"; kill "$pid"; wait "$pid"
fi

# A read that never returns, in each of the simulator's ways, on its 10th
# read: the suit named, no file left, the end well before --seconds.
for kind in spin mutex pipe wait; do
  start=$SECONDS
  KESTRION_SIM_HANG=1:$kind:10 host_within 20 record hang.bvh --seconds 30
  expect_one_line_error 1 "suit 1 hangs: its read in the suit library has not returned" "hung read ($kind)"
  [ $((SECONDS - start)) -lt 10 ] || fail "hung read ($kind): ended after $((SECONDS - start)) s"
  expect_no_files "hung read ($kind)"
done
# The other calls wait for the driver's pass, which the hung read holds;
# which call meets the hang first depends on when the driver's thread runs.
KESTRION_SIM_HANG=0:mutex:0 host_within 20 stream --seconds 30 --set-null
expect_one_line_error 1 "(the plug-in's (Connect|SetNull)|suit 0 hangs: its read) .*has not returned" \
  "a hang while the suits start"

if linux_only "Wine turns only SIGINT into a console event"; then
  for signal in TERM:143 HUP:129 QUIT:131 USR1:138; do
    name=SIG${signal%:*}
    start_host record signal.csv --seconds 60
    if wait_for "Recording suits 0 and 1"; then
      kill -s "$name" "$pid"
      status=0
      wait "$pid" || status=$?
      expect_one_line_error "${signal#*:}" "recording stopped by $name; no file written" "$name"
      expect_in err.txt "plug-in: Stopped Kestrion driver" "$name: channel reset"
      expect_no_files "$name"
      [ -e "$shm" ] && fail "$name: $shm left"
    else
      fail "the recording did not start"; kill "$pid"; wait "$pid"
    fi
  done
  # The reader of standard output goes away.
  "$program" record pipe.bvh --seconds 60 2>err.txt </dev/null | head -1 >out.txt
  status=${PIPESTATUS[0]}
  expect_one_line_error 141 "recording stopped by SIGPIPE; no file written" "closed pipe"
  expect_no_files "closed pipe"
  [ -e "$shm" ] && fail "closed pipe: $shm left"
fi

finish
