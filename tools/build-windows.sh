#!/usr/bin/env bash
# `make windows`: the Windows program cross-built on Linux with mingw-w64 against the Qt for Windows
# kept beside the checkout (../shared/windows-qt/, unpacked once into the build folder), its
# runtime gathered into BUILD/dist/bin, and the packages BUILD/TalvoUpdater-<version>-win64.exe
# (the installer) and .zip. Without that Qt (a clone outside the team) it says so and does nothing.
# Usage: build-windows.sh [BUILD]   (default: build-win)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build-win}")
archive=${TALVO_WINDOWS_QT_ARCHIVE:-$src/../shared/windows-qt/qt5-win64-5.15.15.tar.xz}
if [ ! -f "$archive" ]; then
  echo "make windows: skipped: no Qt for Windows at $archive (the team keeps it in shared/windows-qt/ beside the checkout)"
  exit 0
fi
bash "$src/tools/install-deps.sh" windows

qt=$build/qt5-win64
stamp=$build/qt5-win64.unpacked
mkdir -p "$build"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$(stat -c '%s %Y' "$archive")" ]; then
  echo "make windows: unpacking $(basename "$archive")"
  rm -rf "$qt"
  tar -xJf "$archive" -C "$build"
  stat -c '%s %Y' "$archive" >"$stamp"
fi

cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
  -DTALVO_WINDOWS_QT="$qt" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-$(nproc)}" 2>&1 | tee "$build/build.log" | grep -v '^\[\|^g\?make' || true
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "make windows: the build failed"; exit 1; }
if grep -q 'warning:' "$build/build.log"; then
  echo "make windows: the build has warnings (see above)"
  exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
installer=$build/TalvoUpdater-$version-win64.exe
if [ -f "$installer" ] && [ "$installer" -nt "$build/src/TalvoUpdater.exe" ] &&
   [ "$installer" -nt "$build/tools/flash/talvo-flash.exe" ] &&
   [ "$installer" -nt "$src/packaging/windows.cmake" ] && [ "$installer" -nt "$src/packaging/windows-runtime.cmake" ]; then
  echo "make windows: $(basename "$installer") is up to date"
  exit 0
fi
rm -rf "$build/dist"
cmake --install "$build" --prefix "$build/dist" | grep -v '^-- \(Installing\|Up-to-date\)'
(cd "$build" && cpack -G "NSIS;ZIP" >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
ls -l "$build"/TalvoUpdater-*-win64.exe "$build"/TalvoUpdater-*-win64.zip
