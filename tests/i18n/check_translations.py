#!/usr/bin/env python3
"""Checks the window's translations in resources/i18n against the sources:
- lupdate over the sources changes nothing (every marked text has an entry, none is left over);
- every entry is translated (none unfinished or empty);
- every translation keeps its source's placeholders (%1), line breaks and the names that stay as
  they are (Talvo, file names); it may name Talvo where English says "it";
- no two English texts share one translation (two captions that read the same lose their choice);
- every translation whose English text has a term of the glossary (talvo_<code>.glossary) uses
  that language's word for it, or the glossary lists it as one that leaves the word out.
- a translation in Latin letters uses only characters the carried fonts have: any other comes from
  a fallback font of the system, whose line height can push a wrapped text out of its box (as
  wine's does on Windows).
Usage: check_translations.py SOURCE_DIR LUPDATE"""
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

# The terms that each language's glossary gives its words for.
TERMS = ["firmware", "update", "restore", "device", "driver", "scan", "password", "downgrade", "found"]
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


def characters_of_fonts(source_dir):
    """The characters every carried cut has (fc-query's ranges), or None without fc-query."""
    common = None
    font_dir = os.path.join(source_dir, "resources", "font")
    for name in sorted(f for f in os.listdir(font_dir) if f.endswith(".otf")):
        try:
            ranges = subprocess.run(["fc-query", "--format=%{charset}", os.path.join(font_dir, name)],
                                    capture_output=True, text=True, check=True).stdout.split()
        except (OSError, subprocess.CalledProcessError):
            return None
        characters = set()
        for item in ranges:
            first, _, last = item.partition("-")
            characters.update(chr(c) for c in range(int(first, 16), int(last or first, 16) + 1))
        common = characters if common is None else common & characters
    return common


# Languages written in other scripts take their letters from the system's fonts anyway.
OTHER_SCRIPTS = ("talvo_ja.ts", "talvo_zh_CN.ts")


def messages(path):
    for context in ET.parse(path).getroot().iter("context"):
        for message in context.iter("message"):
            yield context.findtext("name"), message.findtext("source"), message.find("translation")


def problems_of(path, font_characters=None):
    problems = []
    sources_of = {}
    for context, source, translation in messages(path):
        text = translation.text or ""
        where = "%s: %s: %r" % (os.path.basename(path), context, source)
        if translation.get("type") in ("unfinished", "obsolete", "vanished") or not text.strip():
            problems.append(where + " is not translated")
            continue
        for what, pattern in (("placeholders", r"%\d"), ("line breaks", r"\n")):
            if sorted(re.findall(pattern, source)) != sorted(re.findall(pattern, text)):
                problems.append("%s: the translation %r has other %s" % (where, text, what))
        kept, named = kept_names(source), kept_names(text)
        if [n for n in named if n != "Talvo"] != [n for n in kept if n != "Talvo"] or \
                named.count("Talvo") < kept.count("Talvo"):
            problems.append("%s: the translation %r does not keep %s" % (where, text, kept))
        if font_characters is not None and os.path.basename(path) not in OTHER_SCRIPTS:
            missing = sorted(set(text) - font_characters - {"\n"})
            if missing:
                problems.append("%s: the translation %r has characters the fonts lack: %s" %
                                (where, text, " ".join("U+%04X" % ord(c) for c in missing)))
        sources_of.setdefault(text, set()).add(source)
    for text, sources in sorted(sources_of.items()):
        if len(sources) > 1:
            problems.append("%s: %r translates each of %s" % (os.path.basename(path), text, sorted(sources)))
    return problems


def read_glossary(path):
    """{term: [words, in lower case]} and the set of (term, English text) that leave the word out."""
    words, left_out = {}, set()
    with open(path, encoding="utf-8") as glossary:
        for line in glossary:
            line = line.strip()
            leave_out = re.fullmatch(r"leave out (\w+): (.+)", line)
            if leave_out:
                left_out.add(leave_out.groups())
            elif "=" in line and not line.startswith("#"):
                term, alternatives = line.split("=", 1)
                words[term.strip()] = [word.strip().lower() for word in alternatives.split(",") if word.strip()]
            elif line and not line.startswith("#"):
                raise ValueError("%s: not a glossary line: %r" % (path, line))
    return words, left_out


def glossary_problems(path, glossary_path):
    name = os.path.basename(glossary_path)
    if not os.path.exists(glossary_path):
        return ["%s has no glossary %s" % (os.path.basename(path), name)]
    words, left_out = read_glossary(glossary_path)
    problems = ["%s: no word for %r" % (name, term) for term in TERMS if term not in words]
    without_word = set()
    for context, source, translation in messages(path):
        # The names kept in English are no words of the language ("Update" in "TalvoUpdater").
        text = translation.text or ""
        for kept in KEPT:
            text = text if kept == "Talvo" else text.replace(kept, " ")
        for term in TERMS:
            if re.search(r"\b%s(s|d|ed)?\b" % term, source, re.IGNORECASE) and \
                    not any(word in text.lower() for word in words.get(term, [])):
                without_word.add((term, source))
                if (term, source) not in left_out:
                    problems.append("%s: %s: %r: the translation %r does not say %s" % (
                        os.path.basename(path), context, source, translation.text, " or ".join(words.get(term, []))))
    for term, source in sorted(left_out - without_word):
        problems.append("%s: no translation of %r leaves out the word for %r" % (name, source, term))
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
    font_characters = characters_of_fonts(source_dir)
    if font_characters is None:
        print("fc-query not found: the characters of the translations are not checked against the fonts")
    for name in files:
        problems += problems_of(os.path.join(folder, name), font_characters)
        problems += glossary_problems(os.path.join(folder, name),
                                      os.path.join(folder, name.replace(".ts", ".glossary")))
    for problem in problems:
        print("FAIL " + problem)
    print("%d translation files, %d problems" % (len(files), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
