#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# skipping those already present. Runs as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config python3
  qtbase5-dev qtbase5-dev-tools qtdeclarative5-dev qtdeclarative5-dev-tools
  libqt5serialport5-dev
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-layouts
  qml-module-qtquick-controls qml-module-qtquick-dialogs qml-module-qttest
  qml-module-qtqml-models2
  mingw-w64
  unzip
  xvfb xauth xdg-utils file
  help2man
  qttools5-dev qttools5-dev-tools
  fonts-wqy-microhei fonts-ipafont-gothic fontconfig
)
# Extra sets, asked for by name: "wine" for the Win32 serial test, "windows" for the Windows
# program cross-built with mingw-w64 (the installer, wine to run it, xdotool and xwd to drive and
# see its window under Xvfb), "fuzz" for libFuzzer,
# "packaging" for the Debian package, the Windows installer script and their checks, "usbstack" for
# the tests against the real USB stack in a QEMU guest (its kernel is downloaded by the test).
# Locales that the wine test of the display language runs its programs in (wine reads the
# language from the host's locale, which must exist).
locales=()
for extra in "$@"; do
  case "$extra" in
    wine) packages+=(wine wine64 locales); locales=(de_DE fr_FR ja_JP) ;;
    windows) packages+=(mingw-w64 nsis wine wine64 locales xdotool x11-apps netpbm fonts-dejavu-core)
             locales=(de_DE fr_FR ja_JP) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    packaging) packages+=(dpkg-dev lintian desktop-file-utils appstream nsis devscripts diffoscope-minimal) ;;
    usbstack) packages+=(qemu-system-x86 busybox-static cpio udev) ;;
    *) echo "install-deps: unknown extra '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
missing_locales=()
for l in "${locales[@]}"; do
  locale -a 2>/dev/null | grep -qix "$l.utf8" || missing_locales+=("$l")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_locales[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq || true
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
for l in "${missing_locales[@]}"; do
  echo "install-deps: generating the locale $l.UTF-8"
  "${sudo[@]}" localedef -i "$l" -f UTF-8 "$l.UTF-8"
done
