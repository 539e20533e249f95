# Sourced by the view's end-to-end tests, after lib.sh.

# start_view ARGS...: `kestrion-host view` in the background on a free port;
# $pid, $port and $base, or an empty $port when it did not start.
start_view() {
  "$program" view --port 0 "$@" >out.txt 2>err.txt </dev/null &
  pid=$!
  port=""
  for _ in $(seq 300); do
    port=$(sed -nE 's|^Viewing .* on http://127\.0\.0\.1:([0-9]+)/ .*|\1|p' out.txt)
    [ -n "$port" ] || ! kill -0 "$pid" 2>/dev/null && break
    sleep 0.1
  done
  base=http://127.0.0.1:$port
}

# stop_view DESCRIPTION: Ctrl-C, and a clean end.
stop_view() {
  kill -INT "$pid"
  status=0
  wait "$pid" || status=$?
  expect_exit 0 "$1"
  expect_in out.txt "View stopped by Ctrl-C" "$1"
  expect_in err.txt "plug-in: Stopped Kestrion driver" "$1: channel reset"
}
