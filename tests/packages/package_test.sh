#!/usr/bin/env bash
# The packages as a user gets them. Runs scripts/package.sh twice (the same
# bytes both times), then: the .deb, unpacked with dpkg -x, runs its
# kestrion-host, which finds the plug-in where the package put it, and
# lintian finds no error or warning in it; the zip holds every DLL that
# its libraries and programs import, or Windows has it; where 32-bit Wine
# runs, the zip's try\kestrion-host.exe finds the plug-in one folder up.
# Both carry one version and no path of the machine they were built on.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
cd "$repo" || exit 1
source scripts/windows-tests.sh || exit 1
scripts/install-deps.sh package-test || exit 1

bash scripts/package.sh >/dev/null || { echo "FAILED: scripts/package.sh" >&2; exit 1; }
first=$(sha256sum build/packages/*)
bash scripts/package.sh >/dev/null || { echo "FAILED: scripts/package.sh, again" >&2; exit 1; }
second=$(sha256sum build/packages/*)
deb=$(ls build/packages/kestrion-unique_*.deb)
zip=$(ls build/packages/KestrionUnique-*-win32.zip)
version=$(dpkg-deb -f "$deb" Version)
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/kestrion-packages.XXXXXX")
dpkg -x "$deb" "$unpacked/deb"
unzip -q "$zip" -d "$unpacked/zip"

source tests/host_program/lib.sh "$unpacked/deb/usr/bin/kestrion-host"
trap 'rm -rf "$work" "$unpacked"' EXIT
golden=$tests_dir/info.golden
[ "$first" = "$second" ] || fail "two runs gave different packages:"$'\n'"$first"$'\n'"$second"

# The .deb's program, where Debian puts it.
host --version
expect_exit 0 "--version"
[ "$(cat out.txt)" = "kestrion-host $version" ] || fail "--version says '$(cat out.txt)', the package $version"
host info
expect_exit 0 "info"
[ "$status" -ne 0 ] || diff -u "$golden" <(tail -n +2 out.txt) >&2 || fail "the package's info differs from $golden"
grep -qx "library  $program_dir/\.\./lib/[^/]*/kestrion-unique/libKestrionUnique\.so" out.txt ||
  fail "info did not load the package's plug-in: $(head -n 1 out.txt)"
lintian --fail-on error,warning "$repo/$deb" >lintian.txt 2>&1 ||
  { fail "lintian on $deb"; grep -v '^running with root' lintian.txt >&2; }

# The zip: one folder, named with the version the DLL also carries.
top=$unpacked/zip/KestrionUnique-$version-win32
[ "$zip" = "build/packages/KestrionUnique-$version-win32.zip" ] || fail "the zip $zip is not of version $version"
[ "$(ls "$unpacked/zip")" = "$(basename "$top")" ] || fail "the zip's top folder is not $(basename "$top")"
for field in FileVersion ProductVersion; do
  value=$(strings -el "$top/KestrionUnique.dll" | grep -x -A1 "$field" | tail -n 1)
  [ "$value" = "$version" ] || fail "the DLL's $field is '$value', not $version"
done

# Every DLL imported is beside its importer, or is one of Windows' own
# (MinGW-w64 has an import library for those). The plug-in's imports from
# the host's and the suit vendor's libraries are the user's: in the zip only
# as try/'s stand-ins.
objdump=i686-w64-mingw32-objdump
system_dll() { [ -f "/usr/i686-w64-mingw32/lib/lib$(tr '[:upper:]' '[:lower:]' <<<"${1%.*}").a" ]; }
for file in "$top"/*.dll "$top"/try/*.dll "$top"/try/*.exe; do
  folder=$(dirname "$file")
  for dll in $("$objdump" -p "$file" | sed -n 's/^\tDLL Name: //p'); do
    if [ "$file" = "$top/KestrionUnique.dll" ] && [[ $dll == Tessarel.dll || $dll == Kestrion.dll ]]; then
      [ -f "$top/try/$dll" ] && [ ! -e "$top/$dll" ] || fail "$dll: not a stand-in in try/ only"
    elif [ ! -f "$folder/$dll" ] && ! system_dll "$dll"; then
      fail "${file#"$top/"} imports $dll, which is neither beside it nor Windows' own"
    fi
  done
done

leaks=$(grep -rlF "$repo" "$unpacked")
[ -z "$leaks" ] || fail "the build tree's path $repo is in: $leaks"

if [[ " ${windows_tests[*]} " == *" win32 "* ]]; then
  # From another folder, so the current folder finds nothing.
  (source "$repo/scripts/wine-setup.sh" win32 &&
     timeout -s KILL 60 "$kx_wine" "$top/try/kestrion-host.exe" info >out.txt 2>err.txt </dev/null)
  status=$?
  sed -i 's/\r$//' out.txt err.txt
  expect_exit 0 "try/kestrion-host.exe info"
  if [ "$status" -eq 0 ]; then
    diff -u "$golden" <(tail -n +2 out.txt) >&2 || fail "the zip's info differs from $golden"
    grep -qx 'library  .*\\try\\\.\.\\KestrionUnique\.dll' out.txt ||
      fail "try/kestrion-host.exe did not load the plug-in one folder up: $(head -n 1 out.txt)"
  fi
else
  echo "try/kestrion-host.exe info: NOT RUN: $win32_not_run"
fi

finish
