#!/usr/bin/env bash
# Layers include only downwards: each folder may include itself and the
# folders listed for it, nothing above. Run from anywhere in the tree.
set -uo pipefail
cd "$(dirname "$0")/.."

declare -A below=(
  [abi]=""
  [win32]="abi"
  [geometry]="abi"
  [threading]="abi win32"
  [host]="abi"
  [driver]="abi win32 geometry threading host"
  [plugin]="abi win32 geometry threading host driver"
  [stand-ins/tessarel]="abi host"
  [stand-ins/kestrion/motion]="abi geometry driver"
  [stand-ins/kestrion/replay]="abi geometry driver stand-ins/kestrion/motion"
  [stand-ins/kestrion]="abi geometry host driver kestrion"
  # The program loads the plug-in and the stand-ins at run time: it sees
  # their interfaces, never their insides.
  [app/base]=""
  [app/platform]="app/base"
  [app/channel]="abi geometry host driver plugin app/base app/platform"
  [app/terminal]="abi geometry host driver app/base app/platform"
  [app/recording]="abi geometry driver app/base app/platform"
  [app/osc]="abi geometry driver app/base"
  [app/view]="abi geometry host driver plugin app/base app/platform app/channel app/terminal app/recording"
  [app/commands]="abi geometry host driver plugin app"
  [app]="abi geometry host driver plugin app"
)

status=0
while IFS= read -r file; do
  layer=""
  for candidate in "${!below[@]}"; do
    if [[ $file == "$candidate"/* && ${#candidate} -gt ${#layer} ]]; then layer=$candidate; fi
  done
  [ -n "$layer" ] || continue
  while IFS= read -r included; do
    ok=0
    for allowed in "$layer" ${below[$layer]}; do
      # Within stand-ins/kestrion its headers are "kestrion/...".
      [[ $included == "$allowed"/* || $included == "${allowed#stand-ins/}"/* ]] && ok=1
    done
    if [ $ok -eq 0 ]; then
      echo "$file includes $included, above or beside its layer ($layer)"
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||')
[ $status -eq 0 ] && echo "every include points down a layer"
exit $status
