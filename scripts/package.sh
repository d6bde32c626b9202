#!/usr/bin/env bash
# Builds the release packages into dist/ (or the folder given):
#   velsend_VERSION_ARCH.deb        the Linux program, its manual page, README,
#                                   copyright; dependencies from the libraries
#                                   it links (dpkg-shlibdeps)
#   velsend-VERSION-windows.zip     x86/velsend.exe, x64/velsend.exe, the
#                                   manual as text, README, licence
#   SHA256SUMS
# The version is the one in CMakeLists.txt. The same sources give the same
# bytes: every timestamp inside, the Windows programs' link time included, is
# SOURCE_DATE_EPOCH (default: the last commit's time), and the programs are
# linked again on every run so that it holds. Reuses build-win32/ and
# build-win64/ (scripts/test-windows.sh) where they exist; the Linux program
# is built in build-package/ with Debian's hardening flags.
#
# Usage: scripts/package.sh [OUTPUT DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-dist}")

scripts/install-deps.sh package windows

cmake_value() {  # the quoted value of set(NAME "...") in CMakeLists.txt
  sed -n "s/^set($1 \"\\(.*\\)\")\$/\\1/p" CMakeLists.txt
}
version=$(sed -n 's/^project(velsend VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
company=$(cmake_value VELSEND_COMPANY_NAME)
support=$(cmake_value VELSEND_SUPPORT_ADDRESS)
homepage=$(cmake_value VELSEND_DOC_URL)
copyright=$(cmake_value VELSEND_COPYRIGHT)

SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
umask 022

work=$(mktemp -d /tmp/velsend-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

# --- The programs ------------------------------------------------------------
# Relinked each time: the Windows linker stamps SOURCE_DATE_EPOCH into the
# program, and a program linked by the test run carries that run's time.
rm -f build-package/velsend build-win32/velsend.exe build-win64/velsend.exe
flags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
CXXFLAGS="$flags" LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake -S . -B build-package -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DVELSEND_TESTS=OFF >/dev/null
cmake --build build-package -j2 --target velsend
for bits in 32 64; do
  toolchain=$([ "$bits" = 32 ] && echo i686 || echo x86_64)
  cmake -S . -B "build-win$bits" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "build-win$bits" -j2 --target velsend
done

stamp() {  # every file and folder under $1 dated SOURCE_DATE_EPOCH
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}
mkdir -p "$out"
rm -f "$out"/velsend_*.deb "$out"/velsend-*-windows.zip "$out/SHA256SUMS"

# --- Debian package ----------------------------------------------------------
arch=$(dpkg --print-architecture)
deb=$work/deb
DESTDIR=$deb cmake --install build-package --strip >/dev/null
gzip -9n "$deb/usr/share/man/man1/velsend.1"
doc=$deb/usr/share/doc/velsend
install -d "$doc"
install -m 644 README.md "$doc/README.md"
{
  echo "velsend ($version) unstable; urgency=medium"
  echo
  echo "  * Release $version."
  echo
  echo " -- $company <$support>  $(date -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.gz"
{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: velsend"
  echo "Upstream-Contact: $company <$support>"
  echo "Source: $homepage"
  echo
  echo "Files: *"
  echo "Copyright: ${copyright#Copyright (C) }"
  echo "License: proprietary"
  sed 's/^$/./; s/^/ /' LICENSE
} >"$doc/copyright"

# The libraries the program links, as Debian names them.
mkdir -p "$work/shlibs/debian"
printf 'Source: velsend\n\nPackage: velsend\nArchitecture: any\n' >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$deb/usr/bin/velsend" 2>/dev/null |
          sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "package: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

install -d "$deb/DEBIAN"
cat >"$deb/DEBIAN/control" <<CONTROL
Package: velsend
Version: $version
Architecture: $arch
Maintainer: $company <$support>
Installed-Size: $(du -sk --exclude=DEBIAN "$deb" | cut -f1)
Depends: $depends
Section: mail
Priority: optional
Homepage: $homepage
Description: console SMTP mail sender
 velsend sends a message to an SMTP relay from the command line: text typed
 or piped on standard input or read from files, attachments (MIME or
 uuencoded), STARTTLS and TLS with verified certificates, and authentication
 by password or OAuth 2.0 token. Its command line suits scripts and
 scheduled jobs.
CONTROL
stamp "$deb"
debfile="$out/velsend_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$deb" "$debfile" >/dev/null

# --- Windows zip ---------------------------------------------------------------
zipdir=$work/zip
install -d "$zipdir/x86" "$zipdir/x64" "$zipdir/licences"
install -m 755 build-win32/velsend.exe "$zipdir/x86/velsend.exe"
install -m 755 build-win64/velsend.exe "$zipdir/x64/velsend.exe"
# The manual page as plain text, in the Windows line ends Notepad shows.
groff -man -Tascii -P-cbou build-package/velsend.1 | sed 's/$/\r/' >"$zipdir/velsend.txt"
chmod 644 "$zipdir/velsend.txt"
install -m 644 README.md "$zipdir/README.md"
install -m 644 LICENSE "$zipdir/LICENSE.txt"
# The runtime linked into the programs (winpthreads, the MinGW-w64 CRT
# start-up code) asks for its notices to travel with them.
install -m 644 /usr/share/doc/mingw-w64-common/copyright "$zipdir/licences/mingw-w64.txt"
stamp "$zipdir"
zipfile="$out/velsend-$version-windows.zip"
(cd "$zipdir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | zip -X -D -q -9 "$zipfile" -@)

(cd "$out" && sha256sum "$(basename "$debfile")" "$(basename "$zipfile")" >SHA256SUMS)
echo "package: $out/ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
cat "$out/SHA256SUMS"
