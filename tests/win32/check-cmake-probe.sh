#!/usr/bin/env bash
# Configures and builds tests/win32/cmake-probe for Windows with mingw-w64, the program's
# executable with the settings of its target in the build (SETTINGS), and checks that the
# executable CMake links is a GUI program carrying the version record, icon and manifest.
# Usage: check-cmake-probe.sh CMAKE SOURCE_DIR OUT_DIR SETTINGS
set -euo pipefail
cmake=$1 src=$2 out=$3 settings=$4
rm -rf "$out"
"$cmake" -S "$src/tests/win32/cmake-probe" -B "$out" -DTALVO_SOURCE_DIR="$src" -DTALVO_PROGRAM_SETTINGS="$settings" \
  -DCMAKE_TOOLCHAIN_FILE="$src/tests/win32/cmake-probe/mingw-toolchain.cmake" >"$out.log" 2>&1 \
  || { cat "$out.log"; exit 1; }
"$cmake" --build "$out" >>"$out.log" 2>&1 || { cat "$out.log"; exit 1; }
exe=$out/TalvoUpdater.exe
x86_64-w64-mingw32-objcopy -O binary --only-section=.rsrc "$exe" "$out/rsrc.bin"
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
gui=0
[[ $headers == *"(Windows GUI)"* ]] && gui=1
python3 - "$out/rsrc.bin" "$gui" <<'PY'
import sys
rsrc = open(sys.argv[1], 'rb').read()
checks = [("CMake built a GUI-subsystem executable", sys.argv[2] == "1")]
def text(t): return t.encode('utf-16-le') in rsrc
checks.append(("it carries a version record", text("VS_VERSION_INFO")))
for value in ("Quellmark", "Quellmark Update Center", "QuellmarkUpdateCenter", "TalvoUpdater.exe", "1, 0, 0, 1"):
    checks.append((f'its version record holds "{value}"', text(value)))
checks.append(("it carries the manifest asking for asInvoker", b'level="asInvoker"' in rsrc))
checks.append(("the manifest binds common controls 6.0.0.0",
               b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in rsrc))
checks.append(("it carries the 256-pixel icon image", b"\x89PNG" in rsrc))
failed = 0
for name, ok in checks:
    print(("PASS " if ok else "FAIL ") + name)
    failed += not ok
print(f"{failed} failed")
sys.exit(1 if failed else 0)
PY
