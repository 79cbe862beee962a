#!/usr/bin/python3
"""Writes the five user-interface fonts, resources/font/DINOT-{Light,Regular,Medium,Bold,Black}.otf.

Each file is a cut of the Inter typeface (OpenType with PostScript/CFF outlines, SIL Open Font
License 1.1) from Debian's fonts-inter package, cut down to the Latin-1 characters the scenes
use and renamed so that every file registers a family of its own ("DINOT-Bold" and so on):
the scenes take the family name from the font loader and then need no weight of their own.
The licence goes beside the fonts as resources/font/OFL.txt.

Needs Debian's python3-fonttools and fonts-inter; neither the build nor the tests do, so they
are not in tools/install-deps.sh. Run by hand from the repository root and commit the output:

    /usr/bin/python3 tools/assets/gen_fonts.py
"""

import os

from fontTools import subset
from fontTools.ttLib import TTFont

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SOURCE_DIR = "/usr/share/fonts/opentype/inter"
CUTS = ["Light", "Regular", "Medium", "Bold", "Black"]

# Printable ASCII, Latin-1, and the typographic punctuation of the scenes' texts.
UNICODES = list(range(0x20, 0x7F)) + list(range(0xA0, 0x100)) + \
    [0x2013, 0x2014, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2026, 0x20AC, 0x2122]

LICENCE_HEADER = """\
The fonts DINOT-Light.otf, DINOT-Regular.otf, DINOT-Medium.otf, DINOT-Bold.otf and
DINOT-Black.otf are modified versions of the Inter typeface (Light, Regular, Medium, Bold and
Black cuts) as packaged by Debian (fonts-inter). They were reduced to the Latin-1 character
set and given new family names by tools/assets/gen_fonts.py.

Copyright (c) 2016-2022 The Inter Project Authors (https://github.com/rsms/inter)

This Font Software is licensed under the SIL Open Font License, Version 1.1.
"""

OFL = """\
-----------------------------------------------------------
SIL OPEN FONT LICENSE Version 1.1 - 26 February 2007
-----------------------------------------------------------

PREAMBLE
The goals of the Open Font License (OFL) are to stimulate worldwide
development of collaborative font projects, to support the font creation
efforts of academic and linguistic communities, and to provide a free and
open framework in which fonts may be shared and improved in partnership
with others.

The OFL allows the licensed fonts to be used, studied, modified and
redistributed freely as long as they are not sold by themselves. The
fonts, including any derivative works, can be bundled, embedded,
redistributed and/or sold with any software provided that any reserved
names are not used by derivative works. The fonts and derivatives,
however, cannot be released under any other type of license. The
requirement for fonts to remain under this license does not apply
to any document created using the fonts or their derivatives.

DEFINITIONS
"Font Software" refers to the set of files released by the Copyright
Holder(s) under this license and clearly marked as such. This may
include source files, build scripts and documentation.

"Reserved Font Name" refers to any names specified as such after the
copyright statement(s).

"Original Version" refers to the collection of Font Software components as
distributed by the Copyright Holder(s).

"Modified Version" refers to any derivative made by adding to, deleting,
or substituting -- in part or in whole -- any of the components of the
Original Version, by changing formats or by porting the Font Software to a
new environment.

"Author" refers to any designer, engineer, programmer, technical
writer or other person who contributed to the Font Software.

PERMISSION & CONDITIONS
Permission is hereby granted, free of charge, to any person obtaining
a copy of the Font Software, to use, study, copy, merge, embed, modify,
redistribute, and sell modified and unmodified copies of the Font
Software, subject to the following conditions:

1) Neither the Font Software nor any of its individual components,
in Original or Modified Versions, may be sold by itself.

2) Original or Modified Versions of the Font Software may be bundled,
redistributed and/or sold with any software, provided that each copy
contains the above copyright notice and this license. These can be
included either as stand-alone text files, human-readable headers or
in the appropriate machine-readable metadata fields within text or
binary files as long as those fields can be easily viewed by the user.

3) No Modified Version of the Font Software may use the Reserved Font
Name(s) unless explicit written permission is granted by the corresponding
Copyright Holder. This restriction only applies to the primary font name as
presented to the users.

4) The name(s) of the Copyright Holder(s) and the Author(s) of the Font
Software shall not be used to promote, endorse or advertise any
Modified Version, except to acknowledge the contribution(s) of the
Copyright Holder(s) and the Author(s) or with their explicit written
permission.

5) The Font Software, modified or unmodified, in part or in whole,
must be distributed entirely under this license, and must not be
distributed under any other license. The requirement for fonts to
remain under this license does not apply to any document created
using the Font Software.

TERMINATION
This license becomes null and void if any of the above conditions are
not met.

DISCLAIMER
THE FONT SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND,
EXPRESS OR IMPLIED, INCLUDING BUT NOT LIMITED TO ANY WARRANTIES OF
MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT
OF COPYRIGHT, PATENT, TRADEMARK, OR OTHER RIGHT. IN NO EVENT SHALL THE
COPYRIGHT HOLDER BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY,
INCLUDING ANY GENERAL, SPECIAL, INDIRECT, INCIDENTAL, OR CONSEQUENTIAL
DAMAGES, WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING
FROM, OUT OF THE USE OR INABILITY TO USE THE FONT SOFTWARE OR FROM
OTHER DEALINGS IN THE FONT SOFTWARE.
"""


def rename(font, family):
    """Gives the font a family of its own: one file, one family, one style."""
    name = font["name"]
    style = "Bold" if family.endswith("-Bold") else "Regular"
    for record in list(name.names):
        if record.nameID in (3, 7, 16, 17, 21, 22):
            name.removeNames(nameID=record.nameID)
    name.setName(family, 1, 3, 1, 0x409)
    name.setName(style, 2, 3, 1, 0x409)
    name.setName("%s:%s" % (family, font["head"].fontRevision), 3, 3, 1, 0x409)
    name.setName(family, 4, 3, 1, 0x409)
    name.setName(family, 6, 3, 1, 0x409)
    # Keep only the Windows names, so no Macintosh record still says "Inter".
    name.names = [r for r in name.names if r.platformID == 3]
    cff = font["CFF "].cff
    top = cff.topDictIndex[0]
    cff.fontNames = [family]
    top.FamilyName = family
    top.FullName = family
    top.Weight = style
    top.Notice = "Modified from Inter; SIL Open Font License 1.1"
    # RIBBI flags follow the new style; the weight class keeps the cut's real weight.
    os2 = font["OS/2"]
    os2.fsSelection = (os2.fsSelection & ~0b1100001) | (0b100000 if style == "Bold" else 0b1000000)
    font["head"].macStyle = 1 if style == "Bold" else 0


def main():
    out_dir = os.path.join(ROOT, "resources", "font")
    os.makedirs(out_dir, exist_ok=True)
    options = subset.Options()
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    options.notdef_outline = True
    options.layout_features = ["kern", "liga", "calt", "ccmp", "locl", "mark", "mkmk", "tnum"]
    for cut in CUTS:
        font = TTFont(os.path.join(SOURCE_DIR, "Inter-%s.otf" % cut), recalcTimestamp=False)
        subsetter = subset.Subsetter(options)
        subsetter.populate(unicodes=UNICODES)
        subsetter.subset(font)
        family = "DINOT-" + cut
        rename(font, family)
        path = os.path.join(out_dir, family + ".otf")
        font.save(path)
        print(path, os.path.getsize(path))
    with open(os.path.join(out_dir, "OFL.txt"), "w", encoding="ascii") as f:
        f.write(LICENCE_HEADER + "\n" + OFL)


if __name__ == "__main__":
    main()
