#!/usr/bin/env bash
# Reads the metadata back under wine from the executable that win32_cmake_resources built as the
# project makes it, and compares it with the expected list.
# Usage: run-resources-wine.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
export WINEPREFIX=$build/wineprefix
source "$src/tests/win32/wine-env.sh"
cd "$build"
actual=$(wine resources_wine.exe 'cmake-probe\TalvoUpdater.exe' | tr -d '\r')
echo "$actual"
if ! diff -u "$src/tests/win32/resources.expected" - <<<"$actual"; then
  echo "FAIL: the program's metadata differs from the expected list"
  exit 1
fi
echo "PASS: metadata read back through GetFileVersionInfoW, FindResourceW and the PE header"
