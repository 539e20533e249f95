# Sourced before Windows programs run: makes the project's Wine prefix once
# (about ten seconds) and keeps one Wine server for the whole run, stopped
# when the calling script exits.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "(making the Wine prefix $WINEPREFIX)"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
wineserver -p 2>/dev/null || true
# Start Wine's background services now, detached from any output pipe: a
# service started by a test would keep the test runner's pipe open.
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
