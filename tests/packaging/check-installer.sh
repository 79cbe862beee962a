#!/usr/bin/env bash
# The Windows installer that CPack builds from packaging/windows.cmake, under wine: installed
# silently, started from its Start-menu shortcut, uninstalled silently without a trace.
# Usage: check-installer.sh SOURCE_DIR OUT_DIR STANDIN.exe VERSION WINEPREFIX
set -euo pipefail
src=$1 out=$2 standin=$3 version=$4
export WINEPREFIX=$5
fail() { echo "FAIL: $*"; exit 1; }
command -v makensis >/dev/null || { echo "SKIP: no makensis (tools/install-deps.sh packaging)"; exit 77; }
rm -rf "$out" && mkdir -p "$out" && cd "$out"
cmake -S "$src/tests/packaging/installer" -B . -DTALVO_SOURCE_DIR="$src" -DSTANDIN_EXE="$standin" \
  -DTALVO_VERSION="$version" >cpack.log && cpack >>cpack.log || { cat cpack.log; fail cpack; }
source "$src/tests/win32/wine-env.sh"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" # no menu entries on this machine
inst=$WINEPREFIX/drive_c/Program\ Files/TalvoUpdater
menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Talvo\ Updater
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvoUpdater'
record=$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Local/Talvo/TalvoUpdater/standin.txt
rm -rf "$inst" "$menu" "$record" # and what a failed run left
wine reg delete "$key" /f >/dev/null 2>&1 || true
wine "TalvoUpdater-$version-win64.exe" /S
for f in Uninstall.exe bin/{TalvoUpdater.exe,talvo-flash.exe,Qt5Core.dll,platforms/qwindows.dll} \
         bin/qml/{QtQuick/Controls,QtQuick.2}/qmldir; do
  [ -f "$inst/$f" ] || fail "not installed: $f"
done
grep -qx 'Qml2Imports = qml' "$inst/bin/qt.conf" || fail "qt.conf"
wine reg query "$key" /v UninstallString | grep -qF 'C:\Program Files\TalvoUpdater\Uninstall.exe' ||
  fail "no uninstall entry"
# `start /wait` returns before the shortcut's program ends: wait for all programs of the prefix.
wine start /unix "$menu/Talvo Updater.lnk" && wineserver -w
printf 'cwd=C:\\Program Files\\TalvoUpdater\\bin\nargs=--user-folder\n' | diff - <(tr -d '\r' <"$record") ||
  fail "the shortcut started nothing, or in another folder or with other arguments"
# The uninstaller copies itself away, starts the copy and returns.
wine "$inst/Uninstall.exe" /S && wineserver -w
[ ! -e "$inst" ] && [ ! -e "$menu" ] || fail "left behind: $(find "$inst" "$menu" 2>/dev/null | head -5)"
! wine reg query "$key" >/dev/null 2>&1 || fail "uninstall entry left behind"
