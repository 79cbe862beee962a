#!/usr/bin/env python3
"""pixels.py SHOT.ppm X Y W H KIND: counts the pixels of one kind in a rectangle of a screenshot
(binary PPM): "green" (the success mark), "lit" (anything brighter than the window's black), "grey" (the unit's photograph)."""
import sys

data = open(sys.argv[1], "rb").read()
fields, position = [], 0
while len(fields) < 4:  # magic, width, height, maximum, with comments between
    while data[position:position + 1].isspace():
        position += 1
    if data[position:position + 1] == b"#":
        position = data.index(b"\n", position)
        continue
    end = position
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[position:end])
    position = end
assert fields[0] == b"P6" and fields[3] == b"255", "not an 8-bit binary PPM"
width, height = int(fields[1]), int(fields[2])
pixels = data[position + 1:]
x0, y0, w, h = (int(v) for v in sys.argv[2:6])
kind = sys.argv[6]
count = 0
for y in range(max(y0, 0), min(y0 + h, height)):
    row = pixels[(y * width) * 3:(y * width + width) * 3]
    for x in range(max(x0, 0), min(x0 + w, width)):
        r, g, b = row[x * 3:x * 3 + 3]
        if kind == "green" and g > 140 and r < 120 and b < 160:
            count += 1
        elif kind == "lit" and r + g + b > 90:
            count += 1
        elif kind == "grey" and 50 < r < 230 and abs(r - g) < 24 and abs(g - b) < 24:
            count += 1
print(count)
