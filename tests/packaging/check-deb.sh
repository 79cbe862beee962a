#!/usr/bin/env bash
# The Debian package as `make package` builds it: its files, control fields and scripts, the
# desktop entry and metadata validators, lintian, and the flasher run from an unpacked copy.
# Usage: check-deb.sh BUILD_DIR OUT_DIR VERSION
set -euo pipefail
build=$1 out=$2 version=$3
fail() { echo "FAIL: $*"; exit 1; }
for tool in dpkg-deb lintian desktop-file-validate appstreamcli; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is missing (tools/install-deps.sh packaging)"; exit 77; }
done
rm -rf "$out" && mkdir -p "$out"
cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake" >"$out/cpack.log" || { cat "$out/cpack.log"; fail cpack; }
deb=$out/talvo-updater_${version}_amd64.deb

id=com.quellmark.TalvoUpdater share=usr/share
printf '%s\n' usr/bin/TalvoUpdater usr/bin/talvo-flash usr/lib/udev/rules.d/60-talvo.rules \
  $share/applications/$id.desktop $share/metainfo/$id.metainfo.xml $share/icons/hicolor/{48x48,128x128,256x256}/apps/$id.png \
  $share/man/man1/{TalvoUpdater,talvo-flash}.1.gz $share/doc/talvo-updater/{changelog.gz,copyright} | sort >"$out/expected"
dpkg-deb -c "$deb" | awk '!/^d/ { sub("^[.]/", "", $6); print $6 }' | sort | diff "$out/expected" - || fail "file list"

[ "$(dpkg-deb -f "$deb" Package Version Architecture)" = "$(printf 'Package: talvo-updater\nVersion: %s\nArchitecture: amd64' "$version")" ] ||
  fail "control: $(dpkg-deb -f "$deb" Package Version Architecture)"
depends=", $(dpkg-deb -f "$deb" Depends),"
for dep in libc6 libqt5core5a libqt5qml5 libqt5serialport5 qml-module-qtquick2 qml-module-qtquick-window2 \
           qml-module-qtquick-layouts qml-module-qtquick-controls; do
  [[ $depends =~ ,\ $dep[\ ,] ]] || fail "Depends lacks $dep:$depends"
done
dpkg-deb -I "$deb" postinst | grep -q '^ *udevadm control --reload-rules' || fail "postinst does not reload udev"

root=$out/root
dpkg -x "$deb" "$root"
desktop-file-validate "$root/$share/applications/$id.desktop" || fail "desktop entry"
grep -qx 'Exec=TalvoUpdater --user-folder' "$root/$share/applications/$id.desktop" || fail "Exec without --user-folder"
appstreamcli validate --no-net "$root/$share/metainfo/$id.metainfo.xml" || fail "AppStream metadata"
for size in 48 128 256; do
  [ "$(od -An -tx1 -j16 -N8 "$root/$share/icons/hicolor/${size}x$size/apps/$id.png" | tr -d ' ')" = \
    "$(printf '%08x%08x' $size $size)" ] || fail "icon not $size px"
done
"$root/usr/bin/talvo-flash" --version | head -n1 | grep -qx "talvo-flash $version" || fail "installed talvo-flash --version"
# Every option of the installed flasher's --help is in its manual page.
diff <("$root/usr/bin/talvo-flash" --help | grep -o -- '--[a-z-]*' | sort -u) \
     <(zcat "$root/$share/man/man1/talvo-flash.1.gz" | sed 's/\\-/-/g' | grep -o -- '--[a-z-]*' | sort -u) ||
  fail "manual page and --help differ"
lintian_ok=1
lintian --fail-on error "$deb" >"$out/lintian.log" 2>&1 || lintian_ok=0
grep -v 'root privileges' "$out/lintian.log" || true
[ $lintian_ok = 1 ] || fail "lintian reports errors"
echo "package: $(basename "$deb"), $(dpkg-deb -c "$deb" | grep -vc '^d') files"
