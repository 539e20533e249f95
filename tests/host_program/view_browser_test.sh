#!/usr/bin/env bash
# kestrion-host view in headless Chromium, WebGL through SwiftShader: frames
# arrive, no message in the console, the skeletons are drawn and move between two screenshots a second apart. The screenshots
# stay beside the program, in view-screenshots/, for a person to look at.
# Chromium is driven over its DevTools pipe (NUL-separated JSON on
# descriptors 3 and 4).
source "$(dirname "$0")/lib.sh"
shots=$program_dir/view-screenshots
mkdir -p "$shots" && rm -f "$shots"/view-*.png

KESTRION_SIM_SUITS=3 start_view
[ -n "$port" ] || finish

mkfifo to_chrome from_chrome
chromium --headless --no-sandbox --disable-gpu --use-angle=swiftshader --enable-unsafe-swiftshader \
  --window-size=1000,700 --user-data-dir="$work/profile" --enable-logging=stderr --v=0 \
  --remote-debugging-pipe about:blank 3<to_chrome 4>from_chrome 2>chrome.txt &
chrome=$!
exec 5>to_chrome 6<from_chrome

# cdp METHOD PARAMS: one command to the page (once attached); its answer in
# $reply, and FIELD of it from field.
id=0
cdp() {
  local message
  printf '{"id":%d,"method":"%s","params":%s%s}\0' $((++id)) "$1" "$2" "${session:+,\"sessionId\":\"$session\"}" >&5
  while IFS= read -r -d '' -t 60 message <&6; do
    [[ $message == "{\"id\":$id,"* ]] && { reply=$message; return 0; }
  done
  reply="(no answer)"
}
field() { sed -nE "s/.*\"$1\":\"([^\"]*)\".*/\\1/p" <<<"$reply"; }

cdp Target.createTarget "{\"url\":\"$base/\"}"
cdp Target.attachToTarget "{\"targetId\":\"$(field targetId)\",\"flatten\":true}"
session=$(field sessionId)
[ -n "$session" ] || fail "no page in Chromium: $reply"
for _ in $(seq 100); do  # up to 30 s for the first frames
  cdp Runtime.evaluate '{"expression":"document.body.dataset.frames || \"\""}'
  [ -n "$(field value)" ] && break
  sleep 0.3
done
[ -n "$(field value)" ] || fail "no frames reached the page: $reply"

sleep 0.5  # a few drawn frames
for shot in view-1 view-2; do
  cdp Page.captureScreenshot '{"format":"png"}'
  field data >$shot.b64
  base64 -d $shot.b64 >"$shots/$shot.png" || fail "screenshot $shot: ${reply:0:200}"
  sleep 1
done

# In the scene, left of the panels and between the bars: the suits' saturated
# colours in each shot, and where they differ.
analysis="Promise.all(['$(cat view-1.b64)', '$(cat view-2.b64)'].map((data) => new Promise((ok) => {
  const image = new Image(); image.onload = () => ok(image); image.src = 'data:image/png;base64,' + data; })))
.then((images) => { const [one, two] = images.map((image) => { const c = document.createElement('canvas');
    c.width = image.width; c.height = image.height; const g = c.getContext('2d');
    g.drawImage(image, 0, 0); return g.getImageData(0, 0, c.width, c.height).data; });
  const w = images[0].width, h = images[0].height;
  const coloured = (d, i) => Math.max(d[i], d[i + 1], d[i + 2]) - Math.min(d[i], d[i + 1], d[i + 2]) > 50;
  let suits1 = 0, suits2 = 0, moved = 0;
  for (let y = 60; y < h - 120; y++) for (let x = 0; x < w - 250; x++) {
    const i = 4 * (y * w + x), c1 = coloured(one, i), c2 = coloured(two, i);
    suits1 += c1; suits2 += c2; moved += c1 !== c2;
  }
  return [suits1, suits2, moved].join(' '); })"
cdp Runtime.evaluate "{\"expression\":\"$(tr '\n' ' ' <<<"$analysis")\",\"awaitPromise\":true}"
read -r suits1 suits2 moved <<<"$(field value)"
echo "suit pixels ${suits1:-?} and ${suits2:-?}, changed ${moved:-?}"
[ "${suits1:-0}" -gt 300 ] && [ "${suits2:-0}" -gt 300 ] || fail "no skeleton in the screenshots: $reply"
[ "${moved:-0}" -gt 200 ] || fail "the skeletons did not move between the screenshots: $reply"

session=""
cdp Browser.close '{}'
wait "$chrome"
grep 'CONSOLE' chrome.txt | grep -v 'GPU stall due to ReadPixels' && fail "messages in the console"
stop View
echo "screenshots: $shots/view-1.png $shots/view-2.png"
finish
