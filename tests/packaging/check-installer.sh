#!/usr/bin/env bash
# The Windows installer that CPack builds from packaging/windows.cmake: its architecture follows
# the build's pointer size unless TALVO_NSIS_TARGET is given; the one a 64-bit build makes by
# default, under wine: installed silently, started from its Start-menu shortcut, uninstalled
# silently without a trace.
# Usage: check-installer.sh SOURCE_DIR OUT_DIR STANDIN.exe VERSION WINEPREFIX CXX64 CXX32
set -euo pipefail
src=$1 out=$2 standin=$3 version=$4 cxx64=$6 cxx32=$7
export WINEPREFIX=$5
fail() { echo "FAIL: $*"; exit 1; }
command -v makensis >/dev/null || { echo "SKIP: no makensis (tools/install-deps.sh packaging)"; exit 77; }
rm -rf "$out" && mkdir -p "$out"

# installer NAME CXX SYSTEM FORMAT [CMAKE_ARGS...]: the installer of the stand-in built by CXX for
# Windows, which CPack names after SYSTEM (win64, win32), must be a program of that PE FORMAT.
installer() {
  local name=$1 cxx=$2 system=$3 expected=$4 dir=$out/$1 format
  shift 4
  cmake -S "$src/tests/packaging/installer" -B "$dir" -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_CXX_COMPILER="$cxx" \
    -DTALVO_SOURCE_DIR="$src" -DSTANDIN_EXE="$standin" -DTALVO_VERSION="$version" "$@" >"$dir.log" 2>&1 &&
    (cd "$dir" && cpack -G NSIS >>"$dir.log" 2>&1) || { cat "$dir.log"; fail "cpack ($name)"; }
  format=$(x86_64-w64-mingw32-objdump -f "$dir/TalvoUpdater-$version-$system.exe" | sed -n 's/.*file format //p')
  [ "$format" = "$expected" ] || fail "$name: TalvoUpdater-$version-$system.exe is $format, not $expected"
  echo "PASS $name: TalvoUpdater-$version-$system.exe is $format"
}
installer win64 "$cxx64" win64 pei-x86-64 # a 64-bit build, by default: the one run under wine below
installer win32 "$cxx32" win32 pei-i386   # a 32-bit build, by default
installer given "$cxx64" win64 pei-i386 -DTALVO_NSIS_TARGET=x86-unicode

cd "$out/win64"
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
