#!/usr/bin/env bash
# kestrion-host view over HTTP: the page and three.js, the frame stream at
# the read rate, every control reaching the suits (the simulated library's
# call log), every refusal changing nothing, recordings from the page, and a
# browser that stops reading.
source "$(dirname "$0")/lib.sh"

export KESTRION_SIM_CALL_LOG=$work/calls.txt
handle0=1263599617  # the handles the simulated library gives suits 0 and 2
handle2=$((handle0 + 2))
rate=100

# http CURL-ARGS...: prints the status; the answer's body is in answer.txt.
http() { curl -s --max-time 10 -o answer.txt -w '%{http_code}' "$@"; }
post() { http -H "Origin: $base" -X POST -d "${2-}" "$1"; }
# expect_status CODE CURL-ARGS...
expect_status() {
  local code
  code=$(http "${@:2}")
  [ "$code" = "$1" ] || fail "${*:2}: HTTP $code, expected $1 ($(head -c 200 answer.txt))"
}
# expect_raw CODE REQUEST: REQUEST (printf's format), sent as it is, gets CODE.
expect_raw() {
  local reply
  exec 4<>"/dev/tcp/127.0.0.1/$port"
  printf "$2" >&4
  reply=$(timeout 5 head -1 <&4 | tr -d '\r')
  exec 4<&-
  [[ $reply == "HTTP/1.1 $1 "* ]] || fail "'$2': '$reply', expected $1"
}

KESTRION_SIM_SUITS=3 start_view --suits 0,2 --rate $rate
[ -n "$port" ] || finish
expect_in out.txt "Viewing suits 0 and 2 at 100 Hz on http://127.0.0.1:$port/ until Ctrl-C" "view"

# The page, its files and three.js from Debian's package.
for path in view.js view.css ""; do expect_status 200 "$base/$path"; done
grep -qF '<script src="/three/three.min.js">' answer.txt || fail "the page does not load three.js"
for file in three.min.js examples/js/controls/OrbitControls.js; do
  curl -s "$base/three/${file##*/}" | cmp -s - "/usr/share/javascript/three/$file" || fail "$file differs"
done

# The stream: the skeleton first, then 3 s of frames at the read rate (give
# or take 10 %), each with suits 0 and 2 whole, beside a browser that stops
# reading (dropped, below).
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /events HTTP/1.1\r\nHost: 127.0.0.1:%s\r\n\r\n' "$port" >&3
curl -sN --max-time 3 "$base/events" >events.txt
[ "$(sed -n 2p events.txt)" = "event: hello" ] || fail "the stream does not start with hello"
grep -qE '^data: \{"rate":100,"suits":\[0,2\],"joints":\[\{"name":"Hips","parent":-1,' events.txt ||
  fail "hello: $(grep -m1 '^data' events.txt | head -c 200)"
count=$(grep -c '^event: frame$' events.txt)
whole=$(grep -cE '^data: \{"k":[0-9]+,.*"suits":\[\{"i":0,.*\},\{"i":2,.*"r":\[(-?[0-9]+\.[0-9]+,){53}-?[0-9]+\.[0-9]+\]\}\]\}$' events.txt)
[ "$count" -ge $((27 * rate / 10)) ] && [ "$count" -le $((33 * rate / 10)) ] || fail "$count frames in 3 s at $rate Hz"
[ "$whole" -eq "$count" ] || fail "$whole of $count frames carry suits 0 and 2 whole"

# Every control reaches the suits, and only the suits asked for.
expect_control() {  # expect_control PATH FIELDS CALLS...
  : >calls.txt
  [ "$(post "$base$1" "$2")" = 200 ] || fail "$1 $2: $(cat answer.txt)"
  [ "$(paste -sd' ' calls.txt)" = "${*:3}" ] || fail "$1 $2: calls '$(paste -sd' ' calls.txt)', expected '${*:3}'"
}
expect_control /api/set-null "suit=0" "GyroSetNull($handle0)"
expect_control /api/set-north "suit=all" "GyroSetNorth($handle0) GyroSetNorth($handle2)"
expect_control /api/jumping "suit=2&mode=on" "GyroEnableJumping($handle2, 1)"
expect_control /api/uneven-terrain "suit=all&mode=off" \
  "GyroEnableUnevenTerrain($handle0, 0) GyroEnableUnevenTerrain($handle2, 0)"
expect_control /api/ignore-floor "suit=0&mode=on" "GyroEnableIgnoreFloor($handle0, 1)"
expect_in out.txt "From the page: ignore floor on for suit 0" "control"

# Refusals: a 4xx each, and nothing reaches the suits or the disk.
: >calls.txt
null=$base/api/set-null
from_page=(-H "Origin: $base" -X POST)
{ printf 'suit=0&x='; head -c 5000 /dev/zero | tr '\0' a; } >big.txt
while read -r code request; do
  eval "expect_status $code $request"
done <<'EOF'
405 "$null?suit=0"
405 -X POST "$base/"
403 -X POST -d suit=0 "$null"
403 -H "Origin: http://example.com" -X POST -d suit=0 "$null"
403 -H "Origin: http://127.0.0.1:1" -X POST -d suit=0 "$null"
403 -H "Host: example.com:$port" -H "Origin: http://example.com:$port" -X POST -d suit=0 "$null"
403 -H "Host: example.com:$port" "$base/events"
404 "${from_page[@]}" -d suit=0 "$base/api/reboot"
404 "$base/etc/passwd"
413 "${from_page[@]}" --data-binary @big.txt "$null"
415 "${from_page[@]}" -F suit=0 "$null"
415 "${from_page[@]}" -H "Content-Type: application/x-www-form-urlencodedXX" -d suit=0 "$null"
411 "${from_page[@]}" "$null"
409 "${from_page[@]}" -d "" "$base/api/record/stop"
EOF
for request in suit={,1,3,-1,00,abc,"0&suit=2"}@set-null "suit=0&mode="{,maybe,ON,1}@jumping \
  file={../take.bvh,/tmp/take.bvh,sub/take.bvh,..bvh,.take.bvh,take.txt,take%00.bvh,"a b.csv",}@record/start; do
  expect_status 400 "${from_page[@]}" -d "${request%@*}" "$base/api/${request#*@}"
done
expect_raw 400 'NOT HTTP AT ALL\r\n\r\n'
expect_raw 403 "GET / HTTP/1.1\r\nHost: 127.0.0.1:$port\r\nHost: 127.0.0.1:$port\r\n\r\n"
expect_raw 403 "GET / HTTP/1.1\r\n\r\n"
[ -s calls.txt ] && fail "refused requests reached the suits: $(paste -sd' ' calls.txt)"
logs="calls.txt|answer.txt|events.txt|big.txt"
expect_no_files "refused requests" "$logs"

# Recordings from the page: the files of `record`, in this folder.
[ "$(post "$base/api/record/start" file=take.bvh)" = 200 ] || fail "record: $(cat answer.txt)"
expect_in answer.txt "Recording to take-suit0.bvh, take-suit2.bvh" "record"
sleep 0.5
expect_status 409 "${from_page[@]}" -d file=other.csv "$base/api/record/start"
[ "$(post "$base/api/record/stop")" = 200 ] || fail "stop recording: $(cat answer.txt)"
frames=$(sed -nE 's/^Wrote take-suit0.bvh, take-suit2.bvh \(([0-9]+) frames, .*/\1/p' answer.txt)
[ "${frames:-0}" -gt 10 ] || fail "recording: '$(cat answer.txt)'"
for file in take-suit0.bvh take-suit2.bvh; do check_bvh "$file" $rate "$frames" >&2 || fail "$file"; done
expect_status 409 "${from_page[@]}" -d file=take.bvh "$base/api/record/start"
expect_in answer.txt "take-suit0.bvh exists" "existing recording"
expect_no_files "recordings from the page" "$logs|take-suit0.bvh|take-suit2.bvh"

# The browser that stopped reading is dropped once its buffers are full and
# it has taken nothing for 2 s: what was sent to it ends.
sleep 4
timeout 10 cat <&3 >/dev/null || fail "a browser that stopped reading was not dropped"
exec 3<&-

# Abuse: a request whose headers go on for 50 MB is refused early and costs
# no memory; a new client is served beside 100 idle and 16 trickling
# connections, which do not keep a signal (SIGTERM here, Ctrl-C above) from
# ending the view within a few seconds (a second, unloaded).
rss() { awk '/^VmRSS/ {print int($2 / 1024)}' "/proc/$pid/status"; }
before=$(rss)
answer=$(timeout 60 python3 "$tests_dir/abuse.py" "$port" flood 50)
[[ $answer == "HTTP/1.1 431 "* ]] || fail "header flood: '$answer', expected 431"
[ $(($(rss) - before)) -lt 20 ] || fail "header flood: the view grew from $before MB to $(rss) MB"
coproc holder { exec python3 "$tests_dir/abuse.py" "$port" hold 100 16; }
read -r -t 30 ready <&"${holder[0]}"
[ "$ready" = ready ] || fail "the abusing clients did not connect"
expect_status 200 --max-time 5 "$base/view.css"
kill -TERM "$pid"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null && sleep 0.1; done
kill -0 "$pid" 2>/dev/null && { fail "SIGTERM did not end the view beside slow clients within 5 s"; kill -KILL "$pid"; }
kill "$holder_PID"
ended
expect_exit 0 "View stopped beside slow clients"
expect_in out.txt "View stopped by SIGTERM" "View stopped beside slow clients"

# The port is this view's alone, and wider listening is said aloud.
KESTRION_SIM_SUITS=1 start_view --seconds 3
expect_error 1 "cannot listen on 127.0.0.1 port $port" view --port "$port" --seconds 1
wait "$pid"
host view --listen 0.0.0.0 --port 0 --seconds 0.5
expect_exit 0 "view on every address"
expect_in err.txt "kestrion-host: warning: the view listens on 0.0.0.0" "view on every address"
expect_error 2 "--listen: 'localhost' is not an IPv4 or IPv6 address" view --listen localhost --seconds 0.5

finish
