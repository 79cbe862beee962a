#!/usr/bin/env bash
# The Debian package as `make package` builds it: files, control fields, validators, lintian, and
# the flasher from an unpacked copy, the hardening of both programs.
# Usage: check-deb.sh BUILD_DIR OUT_DIR VERSION FORTIFY_PROBE CXX
set -euo pipefail
build=$1 out=$2 version=$3 probe=$4 cxx=$5
fail() { echo "FAIL: $*"; exit 1; }
for t in lintian desktop-file-validate appstreamcli hardening-check; do command -v $t >/dev/null || { echo "SKIP: no $t"; exit 77; }
done
rm -rf "$out" && mkdir -p "$out" && cd "$out"
cpack -G DEB -B . --config "$build/CPackConfig.cmake" >cpack.log || { cat cpack.log; fail cpack; }
deb=talvo-updater_${version}_amd64.deb id=com.quellmark.TalvoUpdater s=usr/share
printf '%s\n' usr/bin/{TalvoUpdater,talvo-flash} usr/lib/udev/rules.d/60-talvo.rules $s/metainfo/$id.metainfo.xml \
  $s/applications/$id.desktop $s/icons/hicolor/{48x48,128x128,256x256}/apps/$id.png \
  $s/man/man1/{TalvoUpdater,talvo-flash}.1.gz $s/doc/talvo-updater/{changelog.gz,copyright} | sort >expected
dpkg-deb -c $deb | awk '!/^d/ { sub("^[.]/", "", $6); print $6 }' | sort | diff expected - || fail "file list"
control=$(dpkg-deb -f $deb Package Version Architecture | tr '\n' ' ')
[ "$control" = "Package: talvo-updater Version: $version Architecture: amd64 " ] || fail "control: $control"
depends=", $(dpkg-deb -f $deb Depends),"
for dep in libc6 libqt5core5a libqt5qml5 libqt5serialport5 qml-module-qtquick{2,-window2,-layouts,-controls}; do
  [[ $depends =~ ,\ $dep[\ ,] ]] || fail "Depends lacks $dep:$depends"
done
dpkg-deb -I $deb postinst | grep -q '^ *udevadm control --reload-rules' || fail "postinst does not reload udev"
dpkg -x $deb root && cd root
desktop-file-validate $s/applications/$id.desktop || fail "desktop entry"
appstreamcli validate --no-net $s/metainfo/$id.metainfo.xml || fail "AppStream metadata"
grep -qx 'Exec=TalvoUpdater --user-folder' $s/applications/$id.desktop || fail "Exec without --user-folder"
for n in 48 128 256; do # width and height in the PNG header
  [ "$(od -An -tx1 -j16 -N8 $s/icons/hicolor/${n}x$n/apps/$id.png | tr -d ' ')" = "$(printf '%08x%08x' $n $n)" ] ||
    fail "icon not $n px"
done
# Debian's hardening read back from the programs as installed (stripped). Any "no" fails, but for
# two that hardening-check cannot tell from these programs, each checked another way:
# - fortified functions: every length the programs pass is checked at compile time, which leaves
#   no checked call to see ("only unprotected functions found"); a call checked at run time,
#   built with the same flags, must show them;
# - control-flow protection: the linker marks a program only when every object it links is
#   marked, and this libc's start files (Scrt1.o) are not; then the code itself must carry the
#   branch targets the flag puts at every function's entry (endbr64, more of them than returns).
nofortify=' Fortify Source functions: no, only unprotected functions found!'
nocf=' Control flow integrity: no, not found!'
probe_report=$(hardening-check "$probe" || true)
start_files=$(readelf -n "$("$cxx" -print-file-name=Scrt1.o)")
for program in usr/bin/{TalvoUpdater,talvo-flash}; do
  report=$(hardening-check "$program" || true)
  echo "$report"
  if grep -qxF "$nofortify" <<<"$report"; then
    grep -qx ' Fortify Source functions: yes.*' <<<"$probe_report" || fail "$program: not fortified"
  fi
  if grep -qxF "$nocf" <<<"$report"; then
    ! grep -q 'x86 feature: IBT, SHSTK' <<<"$start_files" ||
      fail "$program: not marked for control-flow protection though the start files are"
    code=$(objdump -d --no-show-raw-insn "$program")
    [ "$(grep -c endbr64 <<<"$code")" -gt "$(grep -cP '\tret' <<<"$code")" ] ||
      fail "$program: no control-flow protection in its code"
  fi
  ! grep ': no' <<<"$report" | grep -vxF -e "$nofortify" -e "$nocf" || fail "$program: hardening-check"
done
usr/bin/talvo-flash --version | head -n1 | grep -qx "talvo-flash $version" || fail "talvo-flash --version"
diff <(usr/bin/talvo-flash --help | grep -o -- '--[a-z-]*' | sort -u) \
  <(zcat $s/man/man1/talvo-flash.1.gz | sed 's/\\-/-/g' | grep -o -- '--[a-z-]*' | sort -u) || fail "manual page"
cd .. && lintian --fail-on error $deb >lintian.log 2>&1 || { cat lintian.log; fail "lintian reports errors"; }
grep -v 'root privileges' lintian.log || true
