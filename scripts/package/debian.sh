#!/usr/bin/env bash
# The Debian package, for scripts/package.sh: TREE VERSION WORK OUT.
# Installs the native tree's shipped files in Debian's places, adds the
# documents Debian asks for and writes OUT/kestrion-unique_VERSION_ARCH.deb.
set -euo pipefail
tree=$1 version=$2 work=$3 out=$4
name=kestrion-unique
src=packaging/debian

# The changelog says what each version brought: it must have this one.
latest=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$src/changelog")
if [ "$latest" != "$version" ]; then
  echo "$src/changelog: its latest entry is $latest, the project's version $version; add an entry for $version" >&2
  exit 1
fi

# dpkg-shlibdeps looks for the package's files in debian/NAME/.
root=$work/debian/$name
DESTDIR=$PWD/$root cmake --install "$tree" --prefix /usr --strip >/dev/null
doc=$root/usr/share/doc/$name
mkdir -p "$doc" "$root/usr/share/man/man1" "$root/DEBIAN"
cp "$src/copyright" "$doc/"
gzip -9n <"$src/changelog" >"$doc/changelog.gz"
help2man --no-info \
  --name "loads the suit plug-in as a host engine does and puts the suits to work" \
  "$root/usr/bin/kestrion-host" | gzip -9n >"$root/usr/share/man/man1/kestrion-host.1.gz"

# The libraries it links to, with the versions their packages declare. Our
# own are private and have no version in their names, which it notes.
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$name" "$name" >"$work/debian/control"
depends=$(cd "$work" && find "debian/$name/usr" -type f \( -name '*.so' -o -path '*/bin/*' \) -print0 | sort -z |
            xargs -0 dpkg-shlibdeps -O 2> >(grep -v "can't extract name and version from library name" >&2) |
            sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "dpkg-shlibdeps found no dependencies" >&2; exit 1; }
# three.js, for the view's page.
depends="$depends, libjs-three"

# The size dpkg-gencontrol would give: a KiB or part of one per file, 1 per
# folder.
size=$(find "$root/usr" -printf '%y %s\n' | awk '{ s += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print s }')
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$(dpkg --print-architecture)/" \
    -e "s/@INSTALLED_SIZE@/$size/" -e "s/@DEPENDS@/$depends/" "$src/control.in" >"$root/DEBIAN/control"
(cd "$root" && find usr -type f | sort | xargs md5sum >DEBIAN/md5sums)

find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
deb=$out/${name}_${version}_$(dpkg --print-architecture).deb
# One compressor thread: the same bytes on any number of cores.
dpkg-deb --root-owner-group --threads-max=1 -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
