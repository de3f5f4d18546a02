#!/usr/bin/env python3
"""Draws nbmonitor's three icons: a speech balloon, blue (program.ico, running.ico) and red
(stopped.ico). Each file holds one 32 x 32 image with a 256-colour palette, the format the
notification area of every Windows release shows without scaling artefacts.

Usage: make_icons.py OUTPUT_FOLDER
"""
import os
import struct
import sys

SIZE = 32

# Palette slots the drawing uses; every other slot of the 256 stays black.
TRANSPARENT, OUTLINE, SHADE, BODY, LIGHT, WHITE = range(6)

BLUE = {OUTLINE: (0x10, 0x2c, 0x78), SHADE: (0x1e, 0x50, 0xb4),
        BODY: (0x32, 0x78, 0xe6), LIGHT: (0x78, 0xaa, 0xf8), WHITE: (0xff, 0xff, 0xff)}
RED = {OUTLINE: (0x78, 0x10, 0x10), SHADE: (0xb4, 0x1e, 0x1e),
       BODY: (0xe6, 0x32, 0x32), LIGHT: (0xf8, 0x82, 0x78), WHITE: (0xff, 0xff, 0xff)}


def in_body(x, y):
    """The balloon: an ellipse with a tail that points down to the left."""
    cx, cy, rx, ry = 15.5, 12.5, 14.6, 10.6
    if ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0:
        return True
    # Tail: triangle (8, 19) (15, 21) (4, 30), tested with edge signs.
    def side(ax, ay, bx, by):
        return (bx - ax) * (y - ay) - (by - ay) * (x - ax)
    a = side(8, 19, 15, 21)
    b = side(15, 21, 4, 30)
    c = side(4, 30, 8, 19)
    return (a >= 0 and b >= 0 and c >= 0) or (a <= 0 and b <= 0 and c <= 0)


def draw():
    """Returns rows top to bottom of palette indices."""
    inside = [[in_body(x + 0.5, y + 0.5) for x in range(SIZE)] for y in range(SIZE)]
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            if not inside[y][x]:
                row.append(TRANSPARENT)
                continue
            edge = any(not (0 <= x + dx < SIZE and 0 <= y + dy < SIZE and inside[y + dy][x + dx])
                       for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            if edge:
                row.append(OUTLINE)
            elif ((x + 0.5 - 11) / 6.5) ** 2 + ((y + 0.5 - 7) / 2.6) ** 2 <= 1.0:
                row.append(LIGHT)
            elif y >= 18:
                row.append(SHADE)
            else:
                row.append(BODY)
        rows.append(row)
    # Three dots: the balloon is talking.
    for dot_x in (9, 15, 21):
        for y in (12, 13):
            for x in (dot_x, dot_x + 1):
                rows[y][x] = WHITE
    return rows


def ico_bytes(colours):
    rows = draw()
    palette = bytearray()
    for slot in range(256):
        r, g, b = colours.get(slot, (0, 0, 0))
        palette += bytes((b, g, r, 0))
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # DIB rows run bottom-up
        xor += bytes(row)  # 32 bytes: already a multiple of four
        bits = 0
        for x, index in enumerate(row):
            if index == TRANSPARENT:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, colours in (("program.ico", BLUE), ("running.ico", BLUE), ("stopped.ico", RED)):
        with open(os.path.join(out, name), "wb") as f:
            f.write(ico_bytes(colours))
    return 0


if __name__ == "__main__":
    sys.exit(main())
