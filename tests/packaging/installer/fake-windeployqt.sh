#!/bin/sh
# Writes what windeployqt writes beside the program: libraries, plugins, QML modules.
set -e
for last; do :; done
cd "$(dirname "$last")"
mkdir -p platforms QtQuick/Controls QtQuick.2
touch Qt5Core.dll platforms/qwindows.dll QtQuick/Controls/qmldir QtQuick.2/qmldir
