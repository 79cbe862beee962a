#!/usr/bin/env python3
"""Writes the change logs shipped beside the firmware images, resources/fmw/{s,l}/changelog.txt.

The logs are plain ASCII with CR LF line ends: a banner of three 29-character lines, an empty
line, then one section per firmware version, newest first (the first one is the version of
the image beside the log): "Version MM.mm", a row of "=" as long as that line, one "- " line
per change, and an empty line between sections. Standard library only; run by hand from the
repository root and commit the output with this script:

    python3 tools/assets/gen_changelogs.py
"""

import os

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

BANNER = ["*" * 29, "* Quellmark Talvo ChangeLog *", "*" * 29]

HISTORY = {
    "s": [
        ("49.09", ["Faster recycling after full-power flashes on fresh cells",
                   "Wireless channel 32 no longer drops to channel 1 after standby",
                   "Zoom head stays at 105 mm when the wide panel is folded back in",
                   "Ready light no longer flickers at 1/128 power in manual mode"]),
        ("49.04", ["New: second-curtain sync in wireless slave mode",
                   "Display contrast is kept after the batteries are changed",
                   "Fixed rare lock-up when the test button is held during power-up"]),
        ("48.12", ["Overheat protection now counts flashes over the last two minutes",
                   "Improved TTL accuracy at close range below 1 m",
                   "Focus assist light switches off once the camera has focused"]),
        ("47.06", ["New: stroboscopic mode up to 100 Hz",
                   "Menu texts in Italian and Spanish",
                   "Beep can be switched off in the settings menu"]),
        ("46.02", ["High-speed sync works with shutter speeds down to 1/8000 s",
                   "Shorter delay before standby when running on rechargeable cells"]),
        ("45.11", ["Low-battery warning appears earlier and blinks",
                   "Settings are kept when the batteries are taken out for a short time",
                   "Fixed wrong zoom position reported to the camera at 24 mm"]),
        ("44.07", ["New: manual power in 1/3 steps down to 1/256",
                   "Modelling light switches off after 10 seconds"]),
        ("43.01", ["First release for the Talvo 400 S and Talvo 800 S"]),
    ],
    "l": [
        ("52.05", ["Quicker wake-up from standby with the camera's shutter button",
                   "Fixed flash count in multi mode above 50 Hz"]),
        ("51.10", ["New: group C in wireless master mode",
                   "Display backlight follows the camera's setting"]),
        ("51.03", ["Improved battery gauge for lithium cells",
                   "Overheat warning shows the remaining cooling time"]),
        ("50.08", ["Zoom head covers 20 to 200 mm",
                   "Fixed missing beep after a successful TTL flash"]),
        ("50.01", ["First release for the Talvo 400 L and Talvo 800 L"]),
    ],
}


def changelog(sections):
    lines = BANNER + [""]
    for version, changes in sections:
        title = "Version " + version
        lines += [title, "=" * len(title)]
        lines += ["- " + change for change in changes]
        lines.append("")
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def main():
    for family, sections in HISTORY.items():
        path = os.path.join(ROOT, "resources", "fmw", family, "changelog.txt")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(changelog(sections))


if __name__ == "__main__":
    main()
