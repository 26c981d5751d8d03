#!/usr/bin/env python3
"""Turns the screen of an Xvfb started with -fbdir DIR (DIR/Xvfb_screen0, an XWD image of
24-bit TrueColor) into a PNG of what was drawn on it, cut to the box of pixels that differ
from the screen's black and from its top-left pixel (the colour of an empty desktop). With --until RRGGBB it writes nothing and ends with 1 while no pixel
has that colour yet, so that a caller can wait until the picture shows what it is meant to.

    tools/xwd_to_png.py DIR/Xvfb_screen0 window.png [--until 285adc]
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from draw_pictures import write_rgba  # noqa: E402


def read_xwd(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = struct.unpack(">25I", data[:100])
    header_size, depth = fields[0], fields[3]
    width, height = fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    ncolors = fields[19]
    if depth != 24 or bits_per_pixel != 32:
        raise SystemExit("%s: not a 24-bit screen (depth %d, %d bits a pixel)"
                         % (path, depth, bits_per_pixel))
    start = header_size + ncolors * 12
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + width * 4]
        row = []
        for x in range(width):
            px = line[x * 4:x * 4 + 4]
            value = int.from_bytes(px, "little" if byte_order == 0 else "big")
            row.append(((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF))
        rows.append(row)
    return width, height, rows


def main():
    args = sys.argv[1:]
    until = None
    if "--until" in args:
        i = args.index("--until")
        until = tuple(int(args[i + 1][k:k + 2], 16) for k in (0, 2, 4))
        del args[i:i + 2]
    if len(args) != 2:
        raise SystemExit(__doc__)
    width, height, rows = read_xwd(args[0])
    if until is not None and not any(until in row for row in rows):
        return 1
    empty = {rows[0][0], (0, 0, 0)}
    drawn = [(x, y) for y in range(height) for x in range(width) if rows[y][x] not in empty]
    if not drawn:
        return 1
    x0, x1 = min(p[0] for p in drawn), max(p[0] for p in drawn) + 1
    y0, y1 = min(p[1] for p in drawn), max(p[1] for p in drawn) + 1
    picture = [[c + (255,) for c in row[x0:x1]] for row in rows[y0:y1]]
    write_rgba(args[1], x1 - x0, y1 - y0, picture)
    return 0


if __name__ == "__main__":
    sys.exit(main())
