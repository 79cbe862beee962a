#!/usr/bin/env bash
# The installed Windows folder is complete: every .exe and .dll in it imports only DLLs that are in
# the programs' folder or part of Windows itself (the list below), and every QML module the scenes
# import that the Qt for Windows has is in the folder's qml\ too.
# Usage: check-folder.sh SOURCE_DIR WINDOWS_BUILD
set -euo pipefail
src=$1 win=$2
bin=$win/dist/bin
[ -f "$bin/TalvoUpdater.exe" ] || { echo "SKIP: no Windows program in $bin (make windows builds it)"; exit 77; }

# DLLs of Windows itself, which no installer carries.
system="advapi32 comdlg32 crypt32 d3d11 d3d9 dnsapi dwmapi dxgi gdi32 imm32 iphlpapi kernel32 mpr
  msvcrt netapi32 ole32 oleaut32 opengl32 psapi setupapi shell32 shlwapi user32 userenv uxtheme
  version winmm ws2_32 wtsapi32"
declare -A known
for name in $system; do known[$name.dll]=1; done
for file in "$bin"/*.dll "$bin"/*.exe; do known[$(basename "${file,,}")]=1; done

failures=0 checked=0
while IFS= read -r -d '' file; do
  checked=$((checked + 1))
  imports=$(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
  [ -n "$imports" ] || { echo "FAIL: ${file#"$bin"/}: no import table read"; failures=$((failures + 1)); }
  for dll in $imports; do
    if [ -z "${known[${dll,,}]:-}" ]; then
      echo "FAIL: ${file#"$bin"/} imports $dll, which is neither in the folder nor Windows'"
      failures=$((failures + 1))
    fi
  done
done < <(find "$bin" -type f \( -iname '*.dll' -o -iname '*.exe' \) -print0)
echo "checked the imports of $checked programs and libraries"

# Modules as qmlimportscanner resolves them against a module folder: "name path" lines.
modules_in() {
  "$win/qt5-win64/bin/qmlimportscanner" -rootPath "$src/src/qml" -importPath "$1" | python3 -c '
import json, sys
for m in json.load(sys.stdin):
    if m.get("type") == "module":
        print(m["name"], m.get("path", "-"))' | sort -u
}
sdk=$(modules_in "$win/qt5-win64/qml")
folder=$(modules_in "$bin/qml")
while read -r name path; do
  [ "$path" = - ] && continue
  if ! grep -q "^$name $bin/qml/" <<<"$folder"; then
    echo "FAIL: the scenes import $name, which the Qt has ($path) and the folder lacks"
    failures=$((failures + 1))
  elif ! [ -f "$bin/qml/${path#"$win/qt5-win64/qml/"}/qmldir" ]; then
    echo "FAIL: $name has no qmldir in the folder"
    failures=$((failures + 1))
  fi
done <<<"$sdk"
# The scenes' own imports, besides the two modules the program registers itself.
for name in $(grep -h '^import [A-Z]' "$src"/src/qml/*.qml | awk '{print $2}' | sort -u); do
  case $name in Drivers | Languages) continue ;; esac
  grep -q "^$name $bin/qml/" <<<"$folder" || { echo "FAIL: the scenes' import $name does not resolve in the folder"; failures=$((failures + 1)); }
done
echo "checked $(wc -l <<<"$sdk") QML modules"
[ "$failures" -eq 0 ] && echo PASS
exit $((failures > 0))
