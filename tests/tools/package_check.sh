#!/usr/bin/env bash
# usage: package_check.sh BUILD_DIR VERSION
# The Debian package of a built tree, unpacked into a scratch root: its fields and dependencies, its desktop
# files, and the program run from there, which must find its window module and resource bundle beside it.
set -uo pipefail
build=$1 version=$2
source "$(dirname "$0")/../e2e/e2e_lib.sh"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
deb=("$work"/package/cadenzo-player_"$version"_*.deb)
[ -f "${deb[0]}" ] || fail "no cadenzo-player_${version}_*.deb"
field() { dpkg-deb --field "${deb[0]}" "$1"; }
[ "$(field Package)" = cadenzo-player ] || fail "package name"
[ "$(field Version)" = "$version" ] || fail "version"
grep -Eq '^[^<]+ <[^@> ]+@[^> ]+>$' <<<"$(field Maintainer)" || fail "maintainer: $(field Maintainer)"
[ -n "$(field Description)" ] || fail "no description"
[ "$(field Recommends)" = pipewire-jack ] || fail "Recommends: $(field Recommends)"
# Libraries only, those of the program and those of the window module alike.
depends=$(field Depends)
for library in librtaudio6 libsndfile1 libsoxr0 libjack-jackd2-0 libwebkit2gtk-4.1-0 libgtk-3-0; do
  grep -Eq "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends lacks $library: $depends"
done
! grep -Eq -- '-dev( |,|$)|espeak|gtest|benchmark|nodejs' <<<"$depends" || fail "Depends names build tools: $depends"

root=$work/root
dpkg-deb -x "${deb[0]}" "$root"
desktop=("$root"/usr/share/applications/*.desktop)
desktop-file-validate "${desktop[0]}" || fail "the desktop entry is not valid"
appstreamcli validate-tree --no-net "$root" || fail "the metadata is not valid, or names no installed desktop entry"
grep -q "<release version=\"$version\"" "$root"/usr/share/metainfo/*.metainfo.xml || fail "no release $version"
icon=$(sed -n 's/^Icon=//p' "${desktop[0]}")
[ "$icon" = "$(basename "${desktop[0]}" .desktop)" ] || fail "the icon is not named by the application's id"
for size in 48 128 256; do
  grep -q "PNG image data, $size x $size," <<<"$(file "$root/usr/share/icons/hicolor/${size}x$size/apps/$icon.png")" ||
    fail "no $size-pixel icon"
done
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon"
[ -x "$root/usr/bin/$(sed -n 's/^Exec=//p' "${desktop[0]}")" ] || fail "the desktop entry starts no installed program"
grep -q '^\.SH ENVIRONMENT' <<<"$(zcat "$root/usr/share/man/man1/cadenzo-player.1.gz")" || fail "no manual page"

PLAYER=$root/usr/bin/cadenzo-player
[ "$("$PLAYER" --version)" = "cadenzo-player $version" ] || fail "--version"
play -- TEST_DEVICE=nosuch
expect_run 1 "Output devices found:" "  - system (8 channel(s))" "" "No device matching 'nosuch' — is it connected?"
play -- SELF_TEST=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$PLAYER"
expect_status 0
expect_line "Loaded page: file://$root/usr/share/cadenzo-player/CadenzoPlayer_CadenzoPlayer.bundle/bridge-test.html"
grep -q '^Bridge reply: {"devices":\[{"channels":8,"isDefault":true,"name":"system","uid":"jack:system"}' "$work/out" ||
  fail "no device list"
expect_quiet_stderr
echo "PASS: package"
