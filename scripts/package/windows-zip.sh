#!/usr/bin/env bash
# The Windows zip, for scripts/package.sh: TREE VERSION WORK OUT. Installs
# the 32-bit tree's shipped files in the zip's layout, adds the readmes, the
# names the plug-in imports and the runtime's licenses, and writes
# OUT/KestrionUnique-VERSION-win32.zip.
set -euo pipefail
tree=$1 version=$2 work=$3 out=$4
src=packaging/windows
cache() { sed -n "s/^$1:[A-Z]*=//p" "$tree/CMakeCache.txt"; }
compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER \(.*\))$/\1/p' "$(cache CMAKE_TOOLCHAIN_FILE)")
objdump=$(cache CMAKE_OBJDUMP)

folder=KestrionUnique-$version-win32
root=$work/$folder
cmake --install "$tree" --prefix "$PWD/$root" --strip >/dev/null
# Debian's runtime DLLs carry their debugging data: nine tenths of their size.
"${objdump%objdump}strip" "$root"/lib*.dll "$root"/try/lib*.dll

# Text files with Windows line ends, for any editor there.
windows_text() { sed 's/$/\r/' >"$1"; }
# The exact toolchain, as the tree names it.
compiler_package=$(dpkg -S "$(readlink -f "$(command -v "$compiler")")" | cut -d: -f1)
toolchain="$("$compiler" --version | head -n 1), Debian package $compiler_package $(dpkg-query -W -f '${Version}' "$compiler_package")"
sed -e "s/@VERSION@/$version/g" -e "s|@TOOLCHAIN@|$toolchain|" "$src/README.txt.in" | windows_text "$root/README.txt"
windows_text "$root/try/README.txt" <"$src/try-README.txt"

# Every name the plug-in imports from the host's and the suit vendor's
# libraries, read from its import table.
imports() {  # DLL: the names, mangled, one a line
  "$objdump" -p "$root/KestrionUnique.dll" |
    awk -v dll="$1" '/^\tDLL Name: / { inside = $3 == dll; next } inside && NF == 3 && $2 ~ /^[0-9]+$/ { print $3 }' |
    sort
}
host_imports=$(imports Tessarel.dll)
suit_imports=$(imports Kestrion.dll)
if [ -z "$host_imports" ] || [ -z "$suit_imports" ]; then
  echo "no imports from Tessarel.dll or Kestrion.dll found in $root/KestrionUnique.dll" >&2
  exit 1
fi
{
  echo "The names KestrionUnique.dll $version imports, read from its import table"
  echo "when this zip was made. A Tessarel.dll and a Kestrion.dll it loads with must"
  echo "export every one of them, spelt exactly so (see README.txt)."
  echo
  echo "From Tessarel.dll, the host engine: $(wc -l <<<"$host_imports") names, GCC-mangled (and what they mean)"
  echo
  paste <(echo "$host_imports") <(echo "$host_imports" | "${objdump%objdump}c++filt" --no-strip-underscore) | sed 's/\t/\n    /'
  echo
  echo "From Kestrion.dll, the suit vendor's library: $(wc -l <<<"$suit_imports") C functions, called as cdecl"
  echo
  echo "$suit_imports"
} | windows_text "$root/IMPORTS.txt"

# What the runtime DLLs' Debian packages say about their copyright, beside ours.
mkdir -p "$root/licenses"
windows_text "$root/licenses/KestrionUnique.txt" <packaging/debian/copyright
for dll in "$root"/lib*.dll; do
  from=$(dpkg -S "$(readlink -f "$("$compiler" -print-file-name="$(basename "$dll")")")" | cut -d: -f1)
  windows_text "$root/licenses/$(basename "$dll" .dll).txt" <"/usr/share/doc/$from/copyright"
done

# Fixed times, in UTC, and a fixed order; no extra attributes.
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
zip=$PWD/$out/$folder.zip
(cd "$work" && find "$folder" -type f | sort | zip -X -D -q -9 "$zip" -@)
echo "$out/$folder.zip"
