#!/usr/bin/env bash
# The first command for a newcomer: installs what is missing, builds the
# host program and the plug-in, and records two simulated suits for five
# seconds with the live view, leaving BVH recordings whose paths it prints.
# KX_BUILD_DIR picks the build tree (default build/native, which the test
# command shares); the recordings go to build/try/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh try

dir=${KX_BUILD_DIR:-build/native}
echo "== building kestrion-host and the plug-in (a minute or two the first time)"
if [ ! -f "$dir/build.ninja" ]; then
  # Configured as scripts/build.sh configures it, so the test command can
  # go on in the same tree.
  cmake -S . -B "$dir" -G Ninja >/dev/null
fi
ninja -C "$dir" kestrion-host >/dev/null

out=build/try/walk.bvh
mkdir -p "$(dirname "$out")"
echo "== recording two simulated suits for five seconds"
KESTRION_SIM_SUITS=2 KESTRION_SIM_INIT= KESTRION_SIM_NO_OPEN= KESTRION_SIM_REPLAY= \
  "$dir/bin/kestrion-host" record "$out" --seconds 5 --force

echo "== your recording, one BVH file per suit:"
for suit in 0 1; do
  echo "   ${out%.bvh}-suit$suit.bvh"
done
echo "Open them in a BVH viewer (Blender imports them), or check one with: assimp info ${out%.bvh}-suit0.bvh"
