#!/usr/bin/env python3
"""Writes the program's source archive: the files given (relative to the current folder), in
that order, deflated, each with the one time stamp given and no owner, access time or other
extra field, so that the same sources give the same archive byte for byte.

Usage: zip-sources.py ARCHIVE EPOCH FILE...
"""
import sys
import time
import zipfile


def main(argv):
    archive, epoch, names = argv[1], int(argv[2]), argv[3:]
    # A zip entry's time has two-second steps and starts in 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(archive, "w") as out:
        for name in names:
            entry = zipfile.ZipInfo(name, stamp)
            entry.create_system = 3  # Unix, so that the mode below is read
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(name, "rb") as source:
                out.writestr(entry, source.read(), compresslevel=6)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
