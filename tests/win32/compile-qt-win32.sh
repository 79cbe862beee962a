#!/usr/bin/env bash
# Compiles every C++ source of the targets in SOURCES_TXT as a Windows build compiles it, for the
# Windows target of mingw-w64 (so _WIN32 and Q_OS_WIN are set and the Windows branches taken),
# -fsyntax-only with warnings as errors, against the Qt headers the build uses. SOURCES_TXT is
# written by tests/CMakeLists.txt from each target's own properties: its sources (the Windows
# file of each platform pair in place of the POSIX one), C++ standard, defines and include
# folders; folders outside the project are system folders, as CMake makes imported targets'.
# Usage: compile-qt-win32.sh CXX SOURCES_TXT SOURCE_DIR BUILD_DIR
set -euo pipefail
cxx=$1 list=$2 src=$3 build=$4
out=$(dirname "$list")/logs
rm -rf "$out" && mkdir -p "$out"
[ -s "$list" ] || { echo "FAIL: no source list $list"; exit 1; }

logs=() names=()
# compile_target: starts the compiles of the target read last, two at a time.
compile_target() {
  [ -n "${target:-}" ] || return 0
  local flags=("-std=c++$standard" -fsyntax-only -Wall -Wextra -Werror) d file
  for d in "${defines[@]}"; do flags+=("-D$d"); done
  for d in "${includes[@]}"; do
    case $d in "$src"/* | "$build"/*) flags+=("-I$d") ;; *) flags+=(-isystem "$d") ;; esac
  done
  # The compiler and the headers together must take the Windows branches.
  if ! printf '#include <QtGlobal>\n#if !defined(Q_OS_WIN) || !defined(_WIN32)\n#error not Windows\n#endif\n' |
    "$cxx" "${flags[@]}" -x c++ - >"$out/$target.probe.log" 2>&1; then
    echo "FAIL: $cxx with $target's flags does not compile for Windows:"
    cat "$out/$target.probe.log"
    exit 1
  fi
  for file in "${sources[@]}"; do
    [[ $file == /* ]] || file=$dir/$file
    [[ $file =~ \.(cpp|cc|cxx)$ ]] || continue
    [[ " ${posix[*]} " == *" $file "* ]] && continue
    local log=$out/${#logs[@]}-$(basename "$file").log
    while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
    ( "$cxx" "${flags[@]}" "$file" >"$log" 2>&1; echo $? >"$log.status" ) &
    logs+=("$log") names+=("$target: ${file#"$src"/}")
  done
}

target=
while IFS= read -r line; do
  key=${line%% *} value=${line#* }
  [ "$key" = target ] && { compile_target; target=$value sources=() posix=() includes=() defines=(); continue; }
  [ -n "$value" ] || continue
  case $key in
    dir) dir=$value ;;
    standard) standard=$value ;;
    source) sources+=("$value") ;;
    posix) posix+=("$value") ;;
    win32) sources+=("$value") ;;
    include) includes+=("$value") ;;
    define) defines+=("$value") ;;
  esac
done <"$list"
compile_target
wait

failed=0
for i in "${!logs[@]}"; do
  if [ "$(cat "${logs[i]}.status")" = 0 ]; then
    echo "PASS ${names[i]}"
  else
    echo "FAIL ${names[i]}"
    sed 's/^/    /' "${logs[i]}"
    failed=$((failed + 1))
  fi
done
echo "$((${#logs[@]} - failed)) passed, $failed failed"
[ "${#logs[@]}" -gt 0 ] && [ "$failed" -eq 0 ]
