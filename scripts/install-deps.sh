#!/usr/bin/env bash
# Installs, from Debian's packages, what the named sets need that is not
# installed yet. Uses sudo when not root.
#   native       the native, asan and tsan trees and their tests
#   try          what the first command builds (the native tree)
#   bench        the release tree and its benchmarks
#   win32-build  the 32-bit Windows tree, built but not run
#   win32        the 32-bit Windows tree and its tests under 32-bit Wine
#   win64        the 64-bit Windows tree and its tests under 64-bit Wine
#   package      the packaging tools (scripts/package.sh also asks for the
#                sets of the trees it builds: try and win32-build)
#   package-test what the packages' test unpacks and checks them with
#   fuzz         the replay readers' fuzzing session and limits (scripts/fuzz.sh,
#                scripts/replay-limits.sh): clang, libFuzzer, GNU time
set -euo pipefail

[ $# -gt 0 ] || { echo "usage: $0 SET... (native, try, bench, win32-build, win32, win64, package, package-test, fuzz)" >&2; exit 2; }

packages=()
for set in "$@"; do
  case "$set" in
    # liblo-tools: the tests' independent OSC receiver; pkg-config,
    # libmicrohttpd-dev and libjs-three: the view; curl, python3 and
    # chromium: its tests.
    native | try)
      packages+=(cmake ninja-build g++ googletest libbenchmark-dev libcli11-dev liblo-dev assimp-utils
                 pkg-config libmicrohttpd-dev libjs-three)
      [ "$set" = try ] || packages+=(liblo-tools curl python3 chromium) ;;
    bench) packages+=(cmake ninja-build g++ libbenchmark-dev libcli11-dev liblo-dev pkg-config libmicrohttpd-dev libjs-three) ;;
    win32-build) packages+=(cmake ninja-build g++-mingw-w64-i686-posix googletest libcli11-dev) ;;
    win32) packages+=(cmake ninja-build g++-mingw-w64-i686-posix googletest libcli11-dev assimp-utils wine wine32:i386) ;;
    # Only the 64-bit loader: Debian's wine package would want 32-bit Wine.
    win64) packages+=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev assimp-utils wine64) ;;
    # dpkg-dev: dpkg-shlibdeps, for the package's dependencies.
    package) packages+=(dpkg-dev help2man zip) ;;
    package-test) packages+=(unzip lintian) ;;
    # The whole tree is configured, so the native tree's libraries too.
    fuzz) packages+=(cmake ninja-build clang libclang-rt-14-dev time googletest libbenchmark-dev libcli11-dev liblo-dev
                     pkg-config libmicrohttpd-dev libjs-three) ;;
    *) echo "unknown package set '$set' (native, try, bench, win32-build, win32, win64, package, package-test, fuzz)" >&2; exit 2 ;;
  esac
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
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
