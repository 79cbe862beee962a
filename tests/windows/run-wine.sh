#!/usr/bin/env bash
# The Windows program as its users run it, under wine: installed by its installer, the flasher
# against simulated units on wine COM ports, the window under Xvfb driven from outside (xdotool),
# and taken away again. One wine prefix per test run, made by `install`, used by `flash` and
# `window`, removed again by `uninstall`; its user is "Jürgen Müller", so that the per-user folder
# is C:\users\Jürgen Müller\AppData\Local\Talvo\TalvoUpdater.
# Usage: run-wine.sh install|flash|window|uninstall SOURCE_DIR BUILD_DIR WINDOWS_BUILD TALVO_SIM
set -euo pipefail
mode=$1 src=$2 build=$3 win=$4 sim=$5
installer=$(ls "$win"/TalvoUpdater-*-win64.exe 2>/dev/null | head -1 || true)
[ -n "$installer" ] || { echo "SKIP: no Windows installer in $win (make windows builds it)"; exit 77; }
command -v wine >/dev/null || { echo "SKIP: wine is not installed (tools/install-deps.sh windows)"; exit 77; }

work=$build/windows-wine
export WINEPREFIX=$work/prefix WINEDEBUG=-all USER="Jürgen Müller" LOGNAME="Jürgen Müller"
# No Mono, Gecko or menu entries on this machine.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY TALVO_EXTRA_PORTS
# wine names Unix files in the host's character set: in a 7-bit locale "Müller" becomes "MC<ller".
export LC_ALL=C.UTF-8
c=$WINEPREFIX/drive_c
inst=$c/Program\ Files/TalvoUpdater
menu=$c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Talvo\ Updater
local_app=$c/users/$USER/AppData/Local
folder=$local_app/Talvo/TalvoUpdater
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvoUpdater'
fail() { echo "FAIL: $*"; exit 1; }
pass() { echo "PASS: $*"; }
# Every wine call is bounded; the prefix's server ends with the script.
w() { timeout "${WINE_BOUND:-120}" wine "$@"; }
pids=()
finish() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  exit $status
}
trap finish EXIT

# start_unit COMN SERIAL TALVO-SIM-OPTIONS...: a simulated unit on a pseudo-terminal that the wine
# port COMN points at, its memory in $work/COMN.memory (kept across units on the same port).
start_unit() {
  local com=$1 serial=$2 out=$work/$1.out
  shift 2
  "$sim" --memory-file "$work/$com.memory" "$@" >"$out" 2>"$work/$com.err" &
  pids+=($!)
  local pty=""
  for _ in $(seq 1200); do
    pty=$(sed -n 's/^PORT //p' "$out" 2>/dev/null)
    [ -z "$pty" ] && kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  [ -n "$pty" ] || fail "the simulated unit for $com did not start: $(cat "$work/$com.err")"
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/${com,,}"
  export TALVO_EXTRA_PORTS="$com=$serial"
}
# memory_is COMN FAMILY: the unit's memory holds the carried image of that family and nothing else.
memory_is() {
  python3 "$src/tests/support/memory-is-image.py" "$work/$1.memory" "$src/resources/fmw/${2,,}/image.txt" ||
    fail "$1: the unit's memory is not the $2 image"
}

# The server started here, so that its own output (object dumps once serial ports were in use)
# goes to a log rather than into a program's output.
[ "$mode" = install ] || [ ! -d "$WINEPREFIX" ] || wineserver >>"$work/server.log" 2>&1 || true

case $mode in
install)
  rm -rf "$work" && mkdir -p "$work"
  timeout 300 wineboot --init >"$work/wineboot.log" 2>&1 && timeout 60 wineserver -w ||
    { tail -n 20 "$work/wineboot.log"; echo "SKIP: wine cannot start: wineboot --init failed"; exit 77; }
  [ -d "$local_app" ] || fail "wine made no user folder $local_app"
  w "$installer" /S && timeout 60 wineserver -w
  diff <(cd "$win/dist/bin" && find . -type f | sort) <(cd "$inst/bin" && find . -type f | sort) ||
    fail "C:\\Program Files\\TalvoUpdater\\bin holds other files than the build's folder"
  cmp -s "$win/dist/bin/TalvoUpdater.exe" "$inst/bin/TalvoUpdater.exe" || fail "TalvoUpdater.exe differs"
  [ -f "$inst/Uninstall.exe" ] || fail "no Uninstall.exe"
  [ -f "$menu/Talvo Updater.lnk" ] && [ -f "$menu/Uninstall.lnk" ] || fail "no Start menu entries: $(ls "$menu" 2>&1)"
  # The entry runs the installed program with --user-folder in its own folder.
  shortcut=$(strings -a "$menu/Talvo Updater.lnk"; strings -a -el "$menu/Talvo Updater.lnk")
  for part in 'C:\\Program Files\\TalvoUpdater\\bin\\TalvoUpdater\.exe' '^"\?C:\\Program Files\\TalvoUpdater\\bin$' '^--user-folder$'; do
    grep -q "$part" <<<"$shortcut" || fail "the Start menu entry lacks $part:"$'\n'"$shortcut"
  done
  entry=$(w reg query "$key" | tr -d '\r')
  for value in 'DisplayName.*Talvo Updater' 'Publisher.*Quellmark' 'DisplayVersion.*1\.0\.0\.1' \
               'UninstallString.*C:\\Program Files\\TalvoUpdater\\Uninstall\.exe'; do
    grep -q "$value" <<<"$entry" || fail "the uninstall entry lacks $value:"$'\n'"$entry"
  done
  pass "installed $(cd "$inst/bin" && find . -type f | wc -l) files into C:\\Program Files\\TalvoUpdater\\bin, Start menu entries, uninstall entry"
  ;;

flash)
  [ -f "$inst/bin/talvo-flash.exe" ] || { echo "SKIP: not installed (windows_install installs it)"; exit 77; }
  flash="$inst/bin/talvo-flash.exe"
  rm -f "$work"/COM*.memory "$folder/journal.ini"
  report='C:\users\Jürgen Müller\Stationsbericht März.csv'
  image='C:\users\Jürgen Müller\Firmware März.txt' # the carried S image, as a station's file
  cp "$src/resources/fmw/s/image.txt" "$c/users/$USER/Firmware März.txt"
  # case|port|talvo-sim options|talvo-flash options (%REPORT%, %IMAGE%: the paths above)|exit status|output
  # (extended regex)|the memory afterwards
  rows=(
    "version|||--version|0|^talvo-flash 1\.0\.0\.1$|"
    "list names the unit on its port|COM5|--family S|--list|0|^COM5: found Talvo 400 S, version 49\.05 \[USB serial number TV0005\]|"
    "install, paced|COM5|--family S --paced|--install|0|Update successful!|S"
    "install --fast on a port above COM9|COM12|--family S --paced|--install --fast --port COM12|0|Verified|S"
    "install --fast, the port by its device name|COM13|--family L --paced|--install --fast --port \\\\.\\COM13|0|Verified|L"
    "a cut at block 100 notes the unit|COM6|--family S --paced --hang-up-at-block 100|--install --port COM6|1|--recover|"
    "recover from the journal|COM6|--paced|--recover --fast --port COM6|0|Verified|S"
    "--json|COM7|--family S|--install --fast --json|0|^\{\"event\":\"result\",\"ok\":true,\"exit\":0,\"reason\":\"installed\"|S"
    "--report into a folder with spaces and non-ASCII letters|COM8|--family L|--install --fast --report %REPORT%|0|Update successful!|L"
    "--image from a folder with spaces and non-ASCII letters|COM10|--family S|--install --fast --family S --image %IMAGE%|0|Verified|S"
  )
  for row in "${rows[@]}"; do
    IFS='|' read -r name port unit options status pattern family <<<"$row"
    [[ $name =~ ${TALVO_WINE_CASES:-.} ]] || continue # a regular expression: only those rows
    unset TALVO_EXTRA_PORTS
    [ -z "$port" ] || start_unit "$port" "$(printf TV%04d "${port#COM}")" $unit
    read -ra args <<<"$options"
    args=("${args[@]/\%REPORT\%/$report}")
    args=("${args[@]/\%IMAGE\%/$image}")
    set +e
    w "$flash" "${args[@]}" >"$work/flash.out" 2>&1
    got=$?
    set -e
    tr -d '\r' <"$work/flash.out" | tr '\r' '\n' >"$work/flash.txt"
    [ "$got" = "$status" ] || { cat "$work/flash.txt"; fail "$name: exit status $got, not $status"; }
    grep -Eq -- "$pattern" "$work/flash.txt" || { cat "$work/flash.txt"; fail "$name: no line matches $pattern"; }
    if [ -n "$port" ]; then
      kill "${pids[-1]}" 2>/dev/null; wait "${pids[-1]}" 2>/dev/null || true
    fi
    [ -z "$family" ] || memory_is "$port" "$family"
    case $name in
    "a cut"*) grep -A3 '^\[TV0006\]' "$folder/journal.ini" | grep -q '^model=Talvo 400 S' ||
                fail "$name: the journal in %LOCALAPPDATA% does not note TV0006: $(cat "$folder/journal.ini" 2>&1)" ;;
    --report*) tail -n 1 "$c/users/$USER/Stationsbericht März.csv" | grep -q 'TV0008' ||
                 fail "$name: no row for TV0008 in the station record" ;;
    esac
    pass "$name"
  done

  # Ctrl-C twice while the unit is written: stops after the current frame, port released, the
  # restore command printed.
  start_unit COM9 TV0009 --family S --paced
  # A script's background commands start with SIGINT ignored, which wine would inherit: undo that.
  python3 -c 'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execvp(sys.argv[1], sys.argv[1:])' \
    timeout 120 wine "$flash" --install --port COM9 >"$work/flash.out" 2>&1 &
  flasher=$!
  for _ in $(seq 600); do grep -q '[1-9] %' "$work/flash.out" && break; sleep 0.05; done
  grep -q '[1-9] %' "$work/flash.out" || fail "Ctrl-C: the installation made no progress"
  # timeout passes on the first signal only: the second straight to the program (wine's process for
  # it, in timeout's process group), as the console's Ctrl-C reaches it.
  program=$(pgrep -g "$flasher" -f 'talvo-flash\.exe' | grep -vx "$flasher" | head -1)
  [ -n "$program" ] || fail "Ctrl-C: no process for talvo-flash.exe"
  kill -INT "$program"
  sleep 0.5
  kill -INT "$program"
  set +e; wait "$flasher"; got=$?; set -e
  tr '\r' '\n' <"$work/flash.out" >"$work/flash.txt"
  [ "$got" = 130 ] && grep -q -- '--recover' "$work/flash.txt" ||
    { cat "$work/flash.txt"; fail "Ctrl-C twice: exit status $got, not 130 with the restore command"; }
  pass "Ctrl-C twice during the installation stops it (130) with the restore command"
  ;;

window)
  [ -f "$inst/bin/TalvoUpdater.exe" ] || { echo "SKIP: not installed (windows_install installs it)"; exit 77; }
  for tool in Xvfb xdotool xwd xwdtopnm pnmdepth pnmtopng; do
    command -v $tool >/dev/null || { echo "SKIP: no $tool (tools/install-deps.sh windows)"; exit 77; }
  done
  # A server left from headless runs cannot make windows on a display.
  timeout 60 wineserver -k >/dev/null 2>&1 || true
  wineserver >>"$work/server.log" 2>&1 || true
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=:$(cat "$work/display")
  # until SECONDS COMMAND...: waits for the command to succeed, at most that long.
  until_ok() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.2; done
  }
  shot() { xwd -root -silent | xwdtopnm 2>/dev/null | pnmdepth 255 >"$work/$1.ppm" && pnmtopng <"$work/$1.ppm" >"$work/$1.png"; }
  # count KIND X Y W H: pixels of that kind in a rectangle of the window (96-dpi coordinates) on a new screenshot.
  count() {
    shot now
    python3 "$src/tests/windows/pixels.py" "$work/now.ppm" $((X + $2 * scale / 2)) $((Y + $3 * scale / 2)) \
      $(($4 * scale / 2)) $(($5 * scale / 2)) "$1"
  }
  at_least() { local n; n=$(count "${@:2}"); [ "$n" -ge "$1" ]; }
  has_window() { window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1) && [ -n "$window" ]; }
  no_window() { ! xdotool search --onlyvisible --name "Update" >/dev/null 2>&1; }
  log_has() { grep -q "$1" "$(ls -t "$folder"/logs/TalvoUpdater-*.log | head -1)" 2>/dev/null; }
  # open DPI TITLE [ENVIRONMENT...]: the program as the Start menu entry starts it, at this dpi,
  # its window found by its title; X, Y the window's place, scale its size in halves.
  open() {
    local dpi=$1 title=$2
    shift 2
    w reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
    # As the Start menu entry starts it (wine's shell cannot follow a shortcut in a prefix whose
    # user name has non-ASCII letters: "failed to get data object").
    (cd "$inst/bin" && exec env "$@" timeout 600 wine TalvoUpdater.exe --user-folder) >>"$work/window.out" 2>&1 &
    pids+=($!)
    until_ok 60 has_window "$title" || fail "no window \"$title\" at $dpi dpi"
    until_ok 10 xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
    eval "$(xdotool getwindowgeometry --shell "$window")"
    scale=$((dpi * 2 / 96))
    [ "$WIDTH" -eq $((768 * scale / 2)) ] && [ "$HEIGHT" -eq $((512 * scale / 2)) ] ||
      fail "the window is $WIDTH x $HEIGHT at $dpi dpi"
  }
  close() {
    xdotool key alt+F4
    until_ok 30 no_window || fail "the window does not close"
    timeout 60 wineserver -w || true
  }

  # The installation from the keyboard, at 96 dpi, against a paced unit on COM20.
  rm -f "$work/COM20.memory" "$inst/bin/TalvoUpdater.zip"
  start_unit COM20 TV0020 --family S --paced
  unit=${pids[-1]}
  open 96 "quellmark Update Center" LC_ALL=C.UTF-8
  for file in TalvoUpdater.zip QtQuick/Controls/qmldir QtQuick/Layouts/qmldir QtQuick/Window.2/qmldir QtQuick.2/qmldir; do
    [ -f "$folder/$file" ] || fail "the Start menu entry's run wrote no $file into %LOCALAPPDATA%\\Talvo\\TalvoUpdater"
  done
  [ ! -e "$inst/bin/TalvoUpdater.zip" ] || fail "the runtime files went into Program Files"
  until_ok 30 at_least 20000 lit 0 0 768 512 || fail "the window shows nothing"
  shot window-96
  xdotool key Return
  until_ok 60 log_has 'Status *: OK' || fail "the search found no unit"
  until_ok 30 at_least 2000 grey 190 160 180 170 || fail "the device page shows no picture"
  shot device-96
  xdotool key --delay 150 Tab Tab Tab Tab Return
  until_ok 60 log_has 'Writing' || fail "Tab, Tab, Tab, Tab, Return started no installation"
  xdotool key alt+F4
  ! until_ok 3 no_window || fail "the window closed during the installation"
  shot installing-96
  until_ok 180 at_least 500 green 300 180 170 150 || fail "no \"Update successful!\" page"
  shot success-96
  log_has 'Verified 3 sections' || fail "the run's log in %LOCALAPPDATA%\\Talvo\\TalvoUpdater\\logs lacks the verification"
  close
  kill "$unit"; wait "$unit" 2>/dev/null || true
  memory_is COM20 S
  pass "window at 96 dpi, started as the Start menu entry does: runtime files in %LOCALAPPDATA%, the unit found with its picture, installed from the keyboard, a close refused, log in %LOCALAPPDATA%"

  open 144 "quellmark Update Center" LC_ALL=C.UTF-8
  until_ok 30 at_least 20000 lit 0 0 768 512 || fail "the window shows nothing at 144 dpi"
  shot window-144
  close
  pass "window at 144 dpi: 1152 x 768"

  # The window's language follows the one wine reports.
  for row in "de_DE|quellmark Update-Center" "ja_JP|quellmark アップデートセンター"; do
    IFS='|' read -r locale title <<<"$row"
    open 96 "$title" LC_ALL="$locale.UTF-8"
    until_ok 30 at_least 20000 lit 0 0 768 512 || fail "the window shows nothing in $locale"
    shot "window-$locale"
    close
    pass "window in $locale: \"$title\""
  done
  # Started in a folder it cannot use (its "QtQuick" a file: the descriptors cannot be written)
  # without --user-folder, it keeps its runtime files in the per-user folder. With neither usable
  # (the per-user folder's place taken by a file), it says so in a message box and exits with -1.
  mkdir -p "$work/unusable" && touch "$work/unusable/QtQuick"
  rm -rf "$folder"
  (cd "$work/unusable" && exec timeout 120 wine "$inst/bin/TalvoUpdater.exe") >>"$work/window.out" 2>&1 &
  pids+=($!)
  until_ok 60 has_window "quellmark Update Center" || fail "no window when started in an unusable folder"
  [ -f "$folder/QtQuick.2/qmldir" ] && [ -f "$folder/TalvoUpdater.zip" ] ||
    fail "started in an unusable folder, the runtime files are not in the per-user folder"
  close
  pass "started in a folder it cannot use, it writes its runtime files into the per-user folder"
  rm -rf "$folder" && touch "$folder"
  (cd "$inst/bin" && exec timeout 120 wine TalvoUpdater.exe --user-folder) >>"$work/window.out" 2>&1 &
  starter=$!
  until_ok 60 has_window TalvoUpdater || fail "no message box when the runtime files cannot be written"
  shot failure
  xdotool key Return
  set +e; wait "$starter"; got=$?; set -e
  rm -f "$folder"
  [ "$got" = 255 ] || fail "without a usable folder the exit status is $got, not -1 (255)"
  pass "without a usable folder: a message box, then exit status -1"
  echo "screenshots: $work/*.png"
  ;;

uninstall)
  [ -f "$inst/Uninstall.exe" ] || { echo "SKIP: not installed (windows_install installs it)"; exit 77; }
  # The uninstaller copies itself away and returns at once: wait for the server to be idle.
  w "$inst/Uninstall.exe" /S && timeout 60 wineserver -w
  [ ! -e "$inst" ] && [ ! -e "$menu" ] || fail "left behind: $(find "$inst" "$menu" 2>/dev/null | head -5)"
  ! w reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry is left"
  pass "the uninstaller took the program, its Start menu folder and its entry away"
  ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
