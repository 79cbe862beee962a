#!/usr/bin/env python3
"""memory-is-image.py MEMORY IMAGE: the simulated unit's memory file holds the TI-TXT image and
0xFF everywhere else (exit 0), else says where it differs (exit 1)."""
import sys

memory = open(sys.argv[1], "rb").read()
expected = bytearray(b"\xff" * len(memory))
address = 0
for line in open(sys.argv[2]):
    line = line.strip()
    if line.startswith("@"):
        address = int(line[1:], 16)
    elif line and line != "q":
        for byte in bytes.fromhex(line):
            expected[address] = byte
            address += 1
differ = [a for a in range(len(memory)) if memory[a] != expected[a]]
if differ:
    print(f"{len(differ)} bytes differ from the image, first at {differ[0]:#07x}")
sys.exit(1 if differ else 0)
