#!/usr/bin/env bash
# Compiles the program's resource script with windres and checks what the result carries: the
# version record and the icon group, decompiled from the .res. (The executable that carries it,
# with its subsystem, is win32_cmake_resources' check.)
# Usage: check-resources.sh WINDRES SOURCE_DIR OUT_DIR
set -euo pipefail
windres=$1 src=$2 out=$3
rc=$src/resources/win/TalvoUpdater.rc
expected=$src/tests/win32/resources.expected
mkdir -p "$out"
failures=0
expect() { # description, pattern (fixed string), text
  if grep -qF -- "$2" <<<"$3"; then echo "PASS $1"; else echo "FAIL $1: no '$2'"; failures=$((failures + 1)); fi
}

"$windres" -O res "$rc" -o "$out/TalvoUpdater.res"
decompiled=$("$windres" -J res -O rc -i "$out/TalvoUpdater.res")

while IFS= read -r line; do
  key=${line%%: *} value=${line#*: }
  case $key in
    "Fixed file version") expect "$key" "FILEVERSION ${value//./, }" "$decompiled" ;;
    "Fixed product version") expect "$key" "PRODUCTVERSION ${value//./, }" "$decompiled" ;;
    CompanyName|FileDescription|FileVersion|InternalName|OriginalFilename|ProductName|ProductVersion)
      expect "$key" "VALUE \"$key\", \"$value\"" "$decompiled" ;;
  esac
done <"$expected"
expect "string block for US English, Unicode" 'BLOCK "040904b0"' "$decompiled"
expect "icon group with five images" "Has 5 elements" "$decompiled"
for size in 020 030 040 060 000; do # 16, 24, 32, 48 and 256 (written as 0) pixels, in octal
  expect "icon image of ${size} (octal) pixels" "\"\\$size\\$size\\000\\000\", 1, 32" "$decompiled"
done

echo "$failures failed"
[ "$failures" -eq 0 ]
