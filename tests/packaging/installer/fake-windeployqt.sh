#!/bin/sh
# Writes a library, a plugin and QML modules beside the program, as windeployqt does.
for last; do :; done
cd "$(dirname "$last")" && mkdir -p platforms QtQuick/Controls QtQuick.2 &&
  touch Qt5Core.dll platforms/qwindows.dll QtQuick/Controls/qmldir QtQuick.2/qmldir
