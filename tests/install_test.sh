#!/usr/bin/env bash
# Installs a build into a temporary DESTDIR and checks what a desktop and a package manager see.
#   tests/install_test.sh BUILD_DIR
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$tmp/root cmake --install "$build" --prefix /usr >/dev/null
usr=$tmp/root/usr
id=org.tavrine.Tavrine
desktop-file-validate "$usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" >/dev/null
for page in tavrine tavrine-cli; do
  warnings=$(man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $page: $warnings"
done
for size in 16 24 32 48 64 128 256; do
  file "$usr/share/icons/hicolor/${size}x$size/apps/$id.png" | grep -q "PNG image data, $size x $size" ||
    fail "no ${size}x$size icon"
done
[ -s "$usr/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$("$usr/bin/tavrine-cli" --version)" = "tavrine-cli $version" ] || fail "installed tavrine-cli --version"
# The installed window has no Samples/ beside it: it must find them in the data folder, load
# them and build an image of them (it waits for ever when it finds none).
QT_QPA_PLATFORM=offscreen timeout 60 "$usr/bin/tavrine" --screenshot "$tmp/shot.png" 2>/dev/null ||
  fail "the installed window did not build an image of its samples"

command -v dpkg-deb >/dev/null || { echo "dpkg-deb missing: package not checked"; exit 0; }
deb=$("$src/scripts/package.sh" "$build" "$tmp/out" 2>/dev/null)
installed=$(cd "$tmp/root" && find . ! -type d | sort)
packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$packaged" = "$installed" ] ||
  fail "package and installed tree differ: $(diff <(echo "$installed") <(echo "$packaged"))"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libqt6widgets6 libqt6svg6; do
  [[ ", $depends" == *", $lib ("* ]] || fail "package does not depend on $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "package maintainer"
echo "installed tree and package checked"
