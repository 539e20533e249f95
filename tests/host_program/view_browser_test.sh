#!/usr/bin/env bash
# kestrion-host view in headless Chromium, WebGL through SwiftShader: frames
# arrive, no message in the console, the scene is not blank, and the
# skeletons move between two screenshots a second apart. The screenshots
# stay in the folder given, for a person to look at. Chromium is driven
# over its DevTools pipe (NUL-separated JSON on descriptors 3 and 4).
here=$(cd "$(dirname "$0")" && pwd)
shots=$(mkdir -p "${2:?usage: $0 PROGRAM SCREENSHOT-FOLDER}" && cd "$2" && pwd) || exit 1
rm -f "$shots"/view-*.png
source "$here/lib.sh"
source "$here/view_lib.sh"

KESTRION_SIM_SUITS=3 start_view
[ -n "$port" ] || { fail "view did not start"; cat out.txt err.txt >&2; finish; }

mkfifo to_chrome from_chrome
chromium --headless --no-sandbox --disable-gpu --use-angle=swiftshader --enable-unsafe-swiftshader \
  --window-size=1000,700 --user-data-dir="$work/profile" --enable-logging=stderr --v=0 \
  --remote-debugging-pipe about:blank 3<to_chrome 4>from_chrome 2>chrome.txt &
chrome=$!
exec 5>to_chrome 6<from_chrome

# cdp ID METHOD PARAMS [SESSION]: one command; its answer in $reply.
cdp() {
  local message
  printf '{"id":%d,"method":"%s","params":%s%s}\0' "$1" "$2" "$3" "${4:+,\"sessionId\":\"$4\"}" >&5
  while IFS= read -r -d '' -t 60 message <&6; do
    [[ $message == "{\"id\":$1,"* ]] && { reply=$message; return 0; }
  done
  reply="(no answer)"
  return 1
}
field() { sed -nE "s/.*\"$1\":\"([^\"]*)\".*/\\1/p" <<<"$reply"; }

cdp 1 Target.createTarget "{\"url\":\"$base/\"}"
cdp 2 Target.attachToTarget "{\"targetId\":\"$(field targetId)\",\"flatten\":true}"
session=$(field sessionId)
[ -n "$session" ] || fail "no page in Chromium: $reply"
frames=""
for i in $(seq 100); do  # up to 30 s for the first frames
  cdp $((10 + i)) Runtime.evaluate '{"expression":"document.body.dataset.frames || \"\""}' "$session"
  frames=$(field value)
  [ -n "$frames" ] && break
  sleep 0.3
done
[ -n "$frames" ] || fail "no frames reached the page: $reply"

sleep 0.5  # a few drawn frames
shot() {
  cdp "$1" Page.captureScreenshot '{"format":"png"}' "$session"
  field data >"$2.b64"
  base64 -d "$2.b64" >"$shots/$2.png" || fail "screenshot $2: ${reply:0:200}"
}
shot 200 view-1
sleep 1
shot 201 view-2

# In the scene, left of the panels and between the bars: pixels that are not
# the background, and the suits' saturated colours in each shot.
analysis="(async (a, b) => {
  const load = (data) => new Promise((ok, no) => {
    const image = new Image(); image.onload = () => ok(image); image.onerror = no;
    image.src = 'data:image/png;base64,' + data; });
  const pixels = (image) => { const c = document.createElement('canvas');
    c.width = image.width; c.height = image.height; const g = c.getContext('2d');
    g.drawImage(image, 0, 0); return g.getImageData(0, 0, c.width, c.height).data; };
  const first = await load(a), w = first.width, h = first.height;
  const one = pixels(first), two = pixels(await load(b));
  const coloured = (d, i) => Math.max(d[i], d[i + 1], d[i + 2]) - Math.min(d[i], d[i + 1], d[i + 2]) > 50;
  let scene = 0, suits1 = 0, suits2 = 0, moved = 0;
  for (let y = 60; y < h - 120; y++) for (let x = 0; x < w - 250; x++) {
    const i = 4 * (y * w + x);
    if (Math.abs(one[i] - 32) + Math.abs(one[i + 1] - 35) + Math.abs(one[i + 2] - 42) > 30) scene++;
    const c1 = coloured(one, i), c2 = coloured(two, i);
    suits1 += c1; suits2 += c2; moved += c1 !== c2;
  }
  return [scene, suits1, suits2, moved].join(' ');
})('$(cat view-1.b64)', '$(cat view-2.b64)')"
cdp 300 Runtime.evaluate "{\"expression\":\"$(tr '\n' ' ' <<<"$analysis")\",\"awaitPromise\":true}" "$session"
read -r scene suits1 suits2 moved <<<"$(field value)"
echo "scene pixels ${scene:-?}, suit pixels ${suits1:-?} and ${suits2:-?}, changed ${moved:-?}"
[ "${scene:-0}" -gt 5000 ] || fail "the scene is blank: $reply"
[ "${suits1:-0}" -gt 300 ] && [ "${suits2:-0}" -gt 300 ] || fail "no skeleton in the screenshots: $reply"
[ "${moved:-0}" -gt 200 ] || fail "the skeletons did not move between the screenshots: $reply"

cdp 400 Browser.close '{}'
wait "$chrome"
exec 5>&- 6<&-
messages=$(grep 'CONSOLE' chrome.txt | grep -v 'GPU stall due to ReadPixels')
[ -z "$messages" ] || fail "messages in the console: $messages"
stop_view "view after the browser"
echo "screenshots: $shots/view-1.png $shots/view-2.png"
finish
