#!/usr/bin/env python3
"""Draws the application icon and writes it as a Windows .ico with five sizes.

The drawing: a rounded tile in a blue-to-teal gradient carrying a white flash bolt above a
small amber download chevron (a flash unit receiving an update). Every size is rendered from
the same vector shapes with 4x4 supersampling; sizes up to 48 px are stored as 32-bit bitmaps,
256 px as PNG, the way Windows expects them. Python's standard library only.

Usage: make-icon.py OUTPUT.ico
       make-icon.py --png DIR      (DIR/48.png, DIR/128.png, DIR/256.png for the Linux icon theme)
"""
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
PNG_SIZES = (48, 128, 256)
SUPERSAMPLE = 4

# Shapes in unit coordinates (0..1, y downwards).
TILE_MARGIN = 0.04
TILE_RADIUS = 0.20
BOLT = [(0.58, 0.10), (0.28, 0.52), (0.47, 0.52), (0.38, 0.80), (0.72, 0.38), (0.52, 0.38), (0.64, 0.10)]
CHEVRON = [(0.60, 0.74), (0.84, 0.74), (0.72, 0.88)]
TOP_COLOUR = (0x1E, 0x3A, 0x8A)
BOTTOM_COLOUR = (0x0F, 0x9D, 0x9A)
BOLT_COLOUR = (0xFF, 0xFF, 0xFF)
CHEVRON_COLOUR = (0xFF, 0xB3, 0x1A)


def inside_tile(x, y):
    lo, hi, r = TILE_MARGIN, 1.0 - TILE_MARGIN, TILE_RADIUS
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_polygon(x, y, polygon):
    inside = False
    j = len(polygon) - 1
    for i, (xi, yi) in enumerate(polygon):
        xj, yj = polygon[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def render(size):
    """Returns rows of (r, g, b, a) tuples, top row first, straight (not premultiplied) alpha."""
    rows = []
    samples = SUPERSAMPLE * SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(SUPERSAMPLE):
                y = (py + (sy + 0.5) / SUPERSAMPLE) / size
                for sx in range(SUPERSAMPLE):
                    x = (px + (sx + 0.5) / SUPERSAMPLE) / size
                    if not inside_tile(x, y):
                        continue
                    covered += 1
                    if inside_polygon(x, y, BOLT):
                        colour = BOLT_COLOUR
                    elif inside_polygon(x, y, CHEVRON):
                        colour = CHEVRON_COLOUR
                    else:
                        t = (y - TILE_MARGIN) / (1.0 - 2 * TILE_MARGIN)
                        colour = tuple(a + (b - a) * t for a, b in zip(TOP_COLOUR, BOTTOM_COLOUR))
                    for c in range(3):
                        acc[c] += colour[c]
            if covered:
                rgb = tuple(int(round(v / covered)) for v in acc)
                row.append(rgb + (int(round(255 * covered / samples)),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def png(size, rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b''.join(b'\x00' + bytes(v for pixel in row for v in pixel) for row in rows)
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


def dib(size, rows):
    # BITMAPINFOHEADER with double height (colour image plus AND mask), bottom row first.
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == '--png':
        for size in PNG_SIZES:
            with open(os.path.join(sys.argv[2], '%d.png' % size), 'wb') as out:
                out.write(png(size, render(size)))
        return
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png(size, rows) if size >= 256 else dib(size, rows)))
    offset = 6 + 16 * len(images)
    directory = struct.pack('<HHH', 0, 1, len(images))
    for size, data in images:
        dim = 0 if size >= 256 else size
        directory += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], 'wb') as out:
        out.write(directory + b''.join(data for _, data in images))


if __name__ == '__main__':
    main()
