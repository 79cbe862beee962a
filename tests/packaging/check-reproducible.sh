#!/usr/bin/env bash
# A package built twice is the same package: `make package` in BUILD_DIR, then in a new build
# folder SECOND_DIR (another path, later, another umask and time zone, without the tests), and the
# two .deb files compared byte for byte; on a difference diffoscope shows where.
# Usage: check-reproducible.sh BUILD_DIR SECOND_DIR (from the repository root; takes minutes:
# the second folder is built from scratch)
set -euo pipefail
first=$1 second=$2
mkdir -p "$first"
make package BUILD="$first" >"$first/package.log" || { tail -n 30 "$first/package.log"; exit 1; }
rm -rf "$second" && mkdir -p "$second"
(umask 0002 && TZ=XST-14 make package BUILD="$second" CMAKE_FLAGS=-DBUILD_TESTING=OFF >"$second/package.log") ||
  { tail -n 30 "$second/package.log"; exit 1; }
debs=("$first"/talvo-updater_*.deb "$second"/talvo-updater_*.deb)
[ ${#debs[@]} -eq 2 ] || { echo "FAIL: not one package in each folder: ${debs[*]}"; exit 1; }
sha256sum "${debs[@]}"
if ! cmp "${debs[@]}"; then
  if command -v diffoscope >/dev/null; then diffoscope "${debs[@]}" || true; fi
  echo "FAIL: the two packages differ"
  exit 1
fi
echo "The two packages are the same."
