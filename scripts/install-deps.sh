#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the builds and tests need that is
# not installed yet. Uses sudo when not run as root.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libbenchmark-dev libcli11-dev assimp-utils
  g++-mingw-w64-i686 wine wine32:i386
)

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
  $sudo dpkg --add-architecture i386
fi
# The security suite's i386 index may fail to download; the rest is enough.
$sudo apt-get update || true
# -t bookworm keeps the amd64 and i386 libraries of Wine at one version.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -t bookworm --no-install-recommends "${missing[@]}"
