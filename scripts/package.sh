#!/usr/bin/env bash
# The packages command: builds what ships and writes, into build/packages/,
#   KestrionUnique-VERSION-win32.zip   the 32-bit Windows plug-in, its
#                                      runtime DLLs and a try/ folder
#   kestrion-unique_VERSION_ARCH.deb   the Linux plug-in, kestrion-host and
#                                      the stand-ins, for Debian
# VERSION is the CMake project's. It shares the native and win32 trees with
# the test command and builds only what ships. The same sources give the
# same bytes: every time inside is SOURCE_DATE_EPOCH, by default the last
# commit's. tests/packages/package_test.sh checks the result.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh try win32-build package

umask 022
export LC_ALL=C TZ=UTC
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ -- .*>  //p' packaging/debian/changelog | head -n 1)" +%s)
fi
export SOURCE_DATE_EPOCH

shipped=(KestrionUnique Tessarel Kestrion kestrion-host)
echo "== building the native and 32-bit Windows trees (what ships only)"
native=$(scripts/build.sh native "${shipped[@]}")
win32=$(scripts/build.sh win32 "${shipped[@]}")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")

out=build/packages
work=build/package-work
rm -rf "$out" "$work"
mkdir -p "$out" "$work"
echo "== packaging version $version"
scripts/package/windows-zip.sh "$win32" "$version" "$work/zip" "$out"
scripts/package/debian.sh "$native" "$version" "$work/deb" "$out"
rm -rf "$work"
sha256sum "$out"/*
