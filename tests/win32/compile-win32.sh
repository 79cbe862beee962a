#!/usr/bin/env bash
# Compiles every Windows-only source (src/**/*_win32.cpp, tools/**/*_win32.cpp) with mingw-w64, warnings as errors,
# and links them into one executable together with tests/win32/*_main.cpp drivers if present.
set -euo pipefail
cxx=$1 src=$2 out=$3
mkdir -p "$out"
mapfile -t files < <(find "$src/src" "$src/tools" -name '*_win32.cpp' | sort)
[ ${#files[@]} -gt 0 ] || { echo "no Win32 sources found" >&2; exit 1; }
objs=()
for f in "${files[@]}"; do
  o="$out/$(basename "${f%.cpp}").o"
  "$cxx" -std=c++17 -Wall -Wextra -Werror -municode -I"$src/src" -I"$src/src/bsl" -c "$f" -o "$o"
  echo "compiled $(basename "$f")"
  objs+=("$o")
done
# Link check: every Win32 function the sources use must resolve against the system libraries.
cat > "$out/link_main.cpp" <<'CPP'
int wmain() { return 0; }
CPP
"$cxx" -std=c++17 -municode -static "$out/link_main.cpp" "${objs[@]}" -lpsapi -o "$out/link_check.exe"
echo "linked $(basename "$out/link_check.exe")"
