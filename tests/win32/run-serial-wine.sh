#!/usr/bin/env bash
# Runs the Win32 serial line under wine against simulated units: each unit serves a pty that a
# wine COM port of the private prefix points at (dosdevices/comN -> /dev/pts/M).
# Usage: run-serial-wine.sh SOURCE_DIR BUILD_DIR TALVO_SIM
set -euo pipefail
src=$1 build=$2 sim=$3
export WINEPREFIX=$build/wineprefix
source "$src/tests/win32/wine-env.sh"

version="49.05(1799),Talvo 400S"
work=$build/serial-units
rm -rf "$work"
mkdir -p "$work"
pids=()
stop_units() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for err in "$work"/*.err; do [ -s "$err" ] && sed "s|^|$(basename "$err" .err): |" "$err"; done
  wineserver -w >/dev/null 2>&1 || true
}
trap stop_units EXIT

# start_unit COMN ARGS...: a simulated unit behind the wine port COMN.
start_unit() {
  local com=$1 out=$work/$1.out
  shift
  "$sim" --version-text "$version" "$@" >"$out" 2>"$work/$com.err" &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q '^PORT ' "$out" 2>/dev/null && break
    sleep 0.05
  done
  local pty
  pty=$(sed -n 's/^PORT //p' "$out")
  [ -n "$pty" ] || { echo "FAIL: the simulated unit for $com did not start"; cat "$work/$com.err"; exit 1; }
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/${com,,}"
  echo "unit on $com -> $pty: $*"
}

start_unit COM7
start_unit COM8 --bursts 5 --burst-pause-ms 300
start_unit COM9 --raw-reply 7d7d0141ee42437e
start_unit COM10
start_unit COM11 --handshake-delay-ms 20
rm -f "$WINEPREFIX/dosdevices/com42"

# Another program holds COM10's port exclusively (TIOCEXCL: later opens fail with EBUSY).
python3 - "$(readlink "$WINEPREFIX/dosdevices/com10")" >"$work/holder.out" <<'PY' &
import fcntl, os, sys, termios, time
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
fcntl.ioctl(fd, termios.TIOCEXCL)
print("held", flush=True)
time.sleep(600)
PY
pids+=($!)
for _ in $(seq 100); do grep -q held "$work/holder.out" && break; sleep 0.05; done
grep -q held "$work/holder.out" || { echo "FAIL: could not hold COM10's port"; exit 1; }

# A device on COM12 that answers whatever it is sent with 3 s of talk: 10 bytes every 5 ms.
python3 - >"$work/babble.out" <<'PY' &
import os, time
master, slave = os.openpty()
print("PORT", os.ttyname(slave), flush=True)
while os.read(master, 64):
    end = time.monotonic() + 3
    while time.monotonic() < end:
        os.write(master, b"x" * 10)
        time.sleep(0.005)
PY
pids+=($!)
for _ in $(seq 100); do grep -q '^PORT ' "$work/babble.out" && break; sleep 0.05; done
ln -sfn "$(sed -n 's/^PORT //p' "$work/babble.out")" "$WINEPREFIX/dosdevices/com12"

cd "$build"
wine serialline_wine.exe COM7 COM8 COM9 COM10 COM42 COM11 COM12 "$version" | tr -d '\r'
