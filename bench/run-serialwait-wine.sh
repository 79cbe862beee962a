#!/usr/bin/env bash
# Runs serialwait_wine.exe under wine against a simulated unit that never answers, on a wine COM
# port of the bench's own private prefix (dosdevices/com31 -> /dev/pts/N), and prints its table.
# Usage: run-serialwait-wine.sh SOURCE_DIR BUILD_DIR TALVO_SIM [READS]
set -euo pipefail
src=$1 build=$2 sim=$3 reads=${4:-250}
export WINEPREFIX=$build/wineprefix
source "$src/tests/win32/wine-env.sh"

out=$build/serialwait-unit.out
"$sim" --silent >"$out" 2>"$build/serialwait-unit.err" &
unit=$!
trap 'kill $unit 2>/dev/null || true; wait $unit 2>/dev/null || true; wineserver -w >/dev/null 2>&1 || true' EXIT
for _ in $(seq 100); do
  grep -q '^PORT ' "$out" 2>/dev/null && break
  sleep 0.05
done
pty=$(sed -n 's/^PORT //p' "$out")
[ -n "$pty" ] || { echo "the simulated unit did not start"; cat "$build/serialwait-unit.err"; exit 1; }
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com31"

echo "wine $(wine --version 2>/dev/null), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) before the run"
cd "$build"
wine serialwait_wine.exe COM31 "$reads" | tr -d '\r'
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) after the run"
