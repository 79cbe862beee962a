#!/usr/bin/env bash
# The Windows installer, built by CPack's NSIS generator from packaging/windows.cmake around a
# stand-in program, under wine: a silent installation for all users into Program Files with an
# uninstall entry and a Start-menu shortcut that starts the program in its own folder with
# --user-folder; a silent uninstallation that takes away all it installed.
# Usage: check-installer.sh SOURCE_DIR OUT_DIR STANDIN.exe VERSION WINEPREFIX
set -euo pipefail
src=$1 out=$2 standin=$3 version=$4
export WINEPREFIX=$5
fail() { echo "FAIL: $*"; exit 1; }
command -v makensis >/dev/null || { echo "SKIP: makensis is missing (tools/install-deps.sh packaging)"; exit 77; }

rm -rf "$out" && mkdir -p "$out"
cmake -S "$src/tests/packaging/installer" -B "$out" -DTALVO_SOURCE_DIR="$src" -DSTANDIN_EXE="$standin" \
  -DTALVO_VERSION="$version" >"$out/cpack.log"
(cd "$out" && cpack >>"$out/cpack.log") || { cat "$out/cpack.log"; fail "cpack"; }
unzip -l "$out/TalvoUpdater-$version-win64.zip" | grep -q "bin/qml/QtQuick.2/qmldir" || fail "ZIP contents"

source "$src/tests/win32/wine-env.sh"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" # no menu entries on this machine
c=$WINEPREFIX/drive_c
inst="$c/Program Files/TalvoUpdater"
menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Talvo Updater"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvoUpdater'
record="$c/users/${USER:-$(id -un)}/AppData/Local/Talvo/TalvoUpdater/standin.txt"
rm -rf "$inst" "$menu" "$(dirname "$record")"
wine reg delete "$key" /f >/dev/null 2>&1 || true

wine "$out/TalvoUpdater-$version-win64.exe" /S
for f in bin/TalvoUpdater.exe bin/talvo-flash.exe bin/Qt5Core.dll bin/platforms/qwindows.dll bin/qt.conf \
         bin/qml/QtQuick/Controls/qmldir bin/qml/QtQuick.2/qmldir Uninstall.exe "$menu/Talvo Updater.lnk"; do
  [[ $f == /* ]] || f="$inst/$f"
  [ -f "$f" ] || fail "not installed: $f"
done
[ ! -e "$inst/bin/QtQuick" ] || fail "QML modules left beside the program"
grep -qx 'Qml2Imports = qml' "$inst/bin/qt.conf" || fail "qt.conf: $(cat "$inst/bin/qt.conf")"
wine reg query "$key" /v UninstallString | grep -qF 'C:\Program Files\TalvoUpdater\Uninstall.exe' ||
  fail "no uninstall entry"

# `start /wait` returns before the shortcut's program ends: wait for the prefix's programs.
wine start /unix "$menu/Talvo Updater.lnk"
wineserver -w
[ -f "$record" ] || fail "the shortcut did not start the program, or it wrote nothing in its per-user folder"
printf 'cwd=C:\\Program Files\\TalvoUpdater\\bin\narg=--user-folder\n' | diff - <(tr -d '\r' <"$record") ||
  fail "started in the wrong folder or with the wrong arguments"

# The uninstaller copies itself away, starts the copy and returns: wait again.
wine "$inst/Uninstall.exe" /S
wineserver -w
[ ! -e "$inst" ] || fail "left behind: $(cd "$inst" && find . | head)"
[ ! -e "$menu" ] || fail "Start-menu folder left behind"
! wine reg query "$key" >/dev/null 2>&1 || fail "uninstall entry left behind"
rm -rf "$(dirname "$record")"
echo "installer: installed, started from its shortcut and uninstalled"
