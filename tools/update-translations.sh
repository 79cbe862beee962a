#!/usr/bin/env bash
# Brings the translations in resources/i18n up to the texts marked in the window's sources: a new
# text gets an unfinished entry in every language, a text that is gone loses its entry. Without
# line numbers, so that moving code changes no translation file.
#   tools/update-translations.sh [folder]   (default resources/i18n; the test runs it on a copy)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-resources/i18n}
languages=(de fr es it ja zh_CN)
for language in "${languages[@]}"; do
  ${LUPDATE:-lupdate} -silent -locations none -no-obsolete -source-language en -target-language "$language" \
    src/qml src/families.cpp -ts "$folder/talvo_$language.ts"
done
