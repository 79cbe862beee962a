#!/usr/bin/env python3
"""Checks the window's translations in resources/i18n against the sources:
- lupdate over the sources changes nothing (every marked text has an entry, none is left over);
- every entry is translated (none unfinished or empty);
- every translation keeps its source's placeholders (%1), line breaks and the names that stay as
  they are (Talvo, file names).
Usage: check_translations.py SOURCE_DIR LUPDATE"""
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

KEPT = ["TalvoUpdater_4901", "TalvoUpdater", "Talvo", "quellmark", "/usr/lib/udev/rules.d/60-talvo.rules",
        "USB", "udev"]


def kept_names(text):
    # The longest names first, each taken out once found, so that "Talvo" is not counted again
    # inside "TalvoUpdater".
    found = []
    for name in KEPT:
        found += [name] * text.count(name)
        text = text.replace(name, "")
    return sorted(found)


def problems_of(path):
    problems = []
    for context in ET.parse(path).getroot().iter("context"):
        for message in context.iter("message"):
            source = message.findtext("source")
            translation = message.find("translation")
            text = translation.text or ""
            where = "%s: %s: %r" % (os.path.basename(path), context.findtext("name"), source)
            if translation.get("type") in ("unfinished", "obsolete", "vanished") or not text.strip():
                problems.append(where + " is not translated")
                continue
            for what, pattern in (("placeholders", r"%\d"), ("line breaks", r"\n")):
                if sorted(re.findall(pattern, source)) != sorted(re.findall(pattern, text)):
                    problems.append("%s: the translation %r has other %s" % (where, text, what))
            if kept_names(source) != kept_names(text):
                problems.append("%s: the translation %r does not keep %s" % (where, text, kept_names(source)))
    return problems


def main():
    source_dir, lupdate = sys.argv[1], sys.argv[2]
    folder = os.path.join(source_dir, "resources", "i18n")
    files = sorted(f for f in os.listdir(folder) if f.endswith(".ts"))
    problems = []
    with tempfile.TemporaryDirectory() as copy:
        for name in files:
            shutil.copy(os.path.join(folder, name), copy)
        subprocess.run(["bash", os.path.join(source_dir, "tools", "update-translations.sh"), copy], check=True,
                       env=dict(os.environ, LUPDATE=lupdate))
        for name in files:
            if not filecmp.cmp(os.path.join(folder, name), os.path.join(copy, name), shallow=False):
                diff = subprocess.run(["diff", "-u", os.path.join(folder, name), os.path.join(copy, name)],
                                      capture_output=True, text=True).stdout
                problems.append("%s is not up to the sources: run tools/update-translations.sh and translate "
                                "what it adds\n%s" % (name, diff))
    for name in files:
        problems += problems_of(os.path.join(folder, name))
    for problem in problems:
        print("FAIL " + problem)
    print("%d translation files, %d problems" % (len(files), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
