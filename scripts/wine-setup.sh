# Sourced before Windows programs run, with the build (win32 or win64, see
# wine-env.sh): makes that build's Wine prefix once (about ten seconds) and
# keeps one Wine server for the whole run, stopped when the calling script
# (or subshell) exits.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" "$@"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "(making the Wine prefix $WINEPREFIX)"
  "$kx_wine" wineboot -i >/dev/null 2>&1 || true
  "$kx_wineserver" -w
fi
"$kx_wineserver" -p 2>/dev/null || true
# Start Wine's background services now, detached from any output pipe: a
# service started by a test would keep the test runner's pipe open.
"$kx_wine" cmd /c exit >/dev/null 2>&1 </dev/null || true
trap '"$kx_wineserver" -k 2>/dev/null || true' EXIT
