#!/usr/bin/env bash
# Runs one Windows test program under wine in the build folder's private prefix.
# Usage: run-wine.sh SOURCE_DIR BUILD_DIR PROGRAM.exe [ARGS...]
set -euo pipefail
src=$1 build=$2
shift 2
export WINEPREFIX=$build/wineprefix
source "$src/tests/win32/wine-env.sh"
cd "$build"
wine "$@" | tr -d '\r'
