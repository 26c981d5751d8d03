#!/usr/bin/env python3
"""Draws the operator window's pictures into src/ui/pictures/ (plain Python, no imaging
library): the application icon, the seven telephones of the job slots, the signal-bar shape
of the gauge and the About picture; the same as BMP files, which the Win32 window's resource
script takes, into src/ui_win32/pictures/. Run it again after changing a drawing:

    python3 tools/draw_pictures.py
"""

import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui", "pictures")
OUT_BMP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui_win32",
                       "pictures")


# --- PNG writing ---------------------------------------------------------------------------

def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_rgba(path, width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))
    png = b"\x89PNG\r\n\x1a\n"
    png += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_indexed(path, width, height, palette, indices):
    """A 4-bit palette picture: at most 16 colours."""
    assert len(palette) <= 16
    raw = bytearray()
    for row in indices:
        raw.append(0)
        for x in range(0, width, 2):
            hi = row[x]
            lo = row[x + 1] if x + 1 < width else 0
            raw.append((hi << 4) | lo)
    png = b"\x89PNG\r\n\x1a\n"
    png += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 4, 3, 0, 0, 0))
    png += _chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    png += _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# --- BMP writing (bottom-up rows, each padded to four bytes) -------------------------------

def _bmp(path, width, height, bits, palette, rows):
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(rows), 2835, 2835,
                       len(palette), 0)
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + len(info) + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + colours + rows)


def write_bmp_rgba(path, width, height, pixels):
    """32 bits a pixel, the alpha in the fourth byte (the window blends it onto its face)."""
    rows = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            rows += bytes((b, g, r, a))
    _bmp(path, width, height, 32, [], bytes(rows))


def write_bmp_indexed(path, width, height, palette, indices):
    """4 bits a pixel: at most 16 colours."""
    rows = bytearray()
    for row in reversed(indices):
        line = bytearray()
        for x in range(0, width, 2):
            line.append((row[x] << 4) | (row[x + 1] if x + 1 < width else 0))
        line += bytes(-len(line) % 4)
        rows += line
    _bmp(path, width, height, 4, palette, bytes(rows))


# --- shapes as signed distances (negative inside) -----------------------------------------

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rounded_box(x0, y0, x1, y1, r):
    cx, cy, hx, hy = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r
    return d


def segment(ax, ay, bx, by, w):
    def d(x, y):
        px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
        length2 = vx * vx + vy * vy
        t = max(0.0, min(1.0, (px * vx + py * vy) / length2)) if length2 else 0.0
        return math.hypot(px - vx * t, py - vy * t) - w / 2
    return d


def polygon(points):
    def d(x, y):
        best, inside = 1e9, False
        n = len(points)
        for i in range(n):
            (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
            vx, vy, px, py = bx - ax, by - ay, x - ax, y - ay
            t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
            best = min(best, math.hypot(px - vx * t, py - vy * t))
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                inside = not inside
        return -best if inside else best
    return d


def arc(cx, cy, r, w, a0, a1):
    """A ring piece from angle a0 to a1 (degrees, counter-clockwise, y up on screen)."""
    def d(x, y):
        ang = math.degrees(math.atan2(cy - y, x - cx))
        if a0 <= ang <= a1:
            return abs(math.hypot(x - cx, y - cy) - r) - w / 2
        ends = []
        for a in (a0, a1):
            ex = cx + r * math.cos(math.radians(a))
            ey = cy - r * math.sin(math.radians(a))
            ends.append(math.hypot(x - ex, y - ey) - w / 2)
        return min(ends)
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def inset(shape, by):
    return lambda x, y: shape(x, y) + by


def render(width, height, layers, samples=4):
    """layers: (shape, (r, g, b)) painted in order; antialiased by supersampling."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    x = px + (sx + 0.5) / samples
                    y = py + (sy + 0.5) / samples
                    colour = None
                    for shape, c in layers:
                        if shape(x, y) <= 0:
                            colour = c
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            n = samples * samples
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                            round(acc[2] / acc[3]), round(255 * acc[3] / n)))
        rows.append(row)
    return rows


def shade(c, f):
    return tuple(max(0, min(255, round(v * f))) for v in c)


def mix(c, d, t):
    return tuple(round(a + (b - a) * t) for a, b in zip(c, d))


# --- the pictures ----------------------------------------------------------------------------

def telephone(colour):
    """A desk telephone, 32 x 32: handset on the cradle, body, dial."""
    handset = union(segment(8, 8.5, 24, 8.5, 5.0),
                    rounded_box(3.5, 6.5, 11, 14, 2.2), rounded_box(21, 6.5, 28.5, 14, 2.2))
    body = union(polygon([(10.5, 13), (21.5, 13), (27.5, 27.5), (4.5, 27.5)]),
                 rounded_box(4.5, 24, 27.5, 29, 1.5))
    dial = circle(16, 21, 4.6)
    dark, light = shade(colour, 0.45), mix(colour, (255, 255, 255), 0.55)
    return render(32, 32, [
        (handset, dark), (inset(handset, 1.0), colour),
        (segment(8, 7.4, 24, 7.4, 1.0), light),
        (body, dark), (inset(body, 1.0), colour),
        (dial, dark), (inset(dial, 0.9), light),
        (circle(16, 21, 1.4), dark),
        (segment(13.5, 18.8, 13.5, 18.8, 1.2), dark), (segment(18.5, 18.8, 18.5, 18.8, 1.2), dark),
        (segment(16, 17.7, 16, 17.7, 1.2), dark), (segment(13, 22.8, 13, 22.8, 1.2), dark),
        (segment(19, 22.8, 19, 22.8, 1.2), dark),
    ])


def icon(size):
    """A mobile telephone sending waves; drawn on a 64 grid and scaled."""
    k = size / 64.0

    def s(shape):
        return lambda x, y: shape(x / k, y / k) * k

    case = rounded_box(12, 10, 38, 58, 5)
    screen = rounded_box(16, 16, 34, 32, 1.5)
    keys = union(*[circle(19 + 6 * c, 38 + 5.5 * r, 1.8) for r in range(3) for c in range(3)])
    aerial = segment(32, 10, 32, 3, 3.2)
    waves = union(arc(34, 13, 8, 3.2, -45, 45), arc(34, 13, 15, 3.2, -38, 38),
                  arc(34, 13, 22, 3.2, -30, 30))
    blue, dark, lcd = (40, 80, 190), (20, 30, 80), (170, 220, 150)
    red = (220, 40, 30)
    return render(size, size, [
        (s(aerial), dark), (s(case), dark), (s(inset(case, 2)), blue),
        (s(screen), dark), (s(inset(screen, 1.2)), lcd),
        (s(segment(19, 27, 22, 27, 2)), dark), (s(segment(24, 24, 24, 28, 2)), dark),
        (s(segment(27, 22, 27, 28, 2)), dark), (s(segment(30, 20, 30, 28, 2)), dark),
        (s(keys), (230, 235, 245)),
        (s(waves), red),
    ], samples=4 if size > 32 else 6)


def signal_bars():
    """The gauge's shape, 36 x 96: eight black bars, widest at the top, on white. A white
    border of at least one pixel keeps the sunken rim inside the gauge window, which is one
    pixel smaller than the picture."""
    w, h = 36, 96
    img = [[(255, 255, 255, 255)] * w for _ in range(h)]
    top, bar, gap = 1, 9, 3
    for i in range(8):
        width = 33 - 4 * i
        x0 = 17 - (width - 1) // 2
        for y in range(top + i * (bar + gap), top + i * (bar + gap) + bar):
            for x in range(x0, x0 + width):
                img[y][x] = (0, 0, 0, 255)
    return w, h, img


# Five-by-seven capitals for the word mark of the About picture.
GLYPHS = {
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
}


def about_picture():
    """200 x 100, 16 colours: a radio mast sending to an alarm bell and a telephone, under a
    banded sky, with the word mark."""
    w, h = 200, 100
    palette = [
        (255, 255, 255), (0, 0, 0), (24, 40, 110), (50, 90, 200),      # 0-3
        (120, 170, 235), (170, 205, 245), (215, 232, 252), (128, 128, 128),  # 4-7
        (70, 70, 70), (200, 200, 200), (215, 40, 30), (240, 140, 20),  # 8-11
        (250, 210, 40), (60, 160, 60), (25, 100, 40), (170, 120, 60),  # 12-15
    ]
    sky = [(0, 34, 6), (34, 62, 5), (62, 100, 4)]  # rows and colour
    mast = union(segment(40, 22, 28, 80, 2.2), segment(40, 22, 52, 80, 2.2),
                 segment(31, 66, 49, 66, 1.6), segment(33.5, 52, 46.5, 52, 1.6),
                 segment(36, 38, 44, 38, 1.6), segment(31, 66, 46.5, 52, 1.4),
                 segment(49, 66, 33.5, 52, 1.4), segment(33.5, 52, 44, 38, 1.4),
                 segment(46.5, 52, 36, 38, 1.4), segment(40, 22, 40, 14, 2))
    waves = union(arc(40, 16, 9, 2.2, -50, 50), arc(40, 16, 17, 2.2, -45, 45),
                  arc(40, 16, 25, 2.2, -40, 40))
    hill = circle(60, 200, 122)
    bell = union(polygon([(100, 34), (110, 34), (114, 50), (96, 50)]), circle(105, 34, 6),
                 rounded_box(93, 49, 117, 53, 1.5))
    clapper = circle(105, 55, 2.5)
    handset = union(segment(140, 40, 160, 40, 6), rounded_box(133, 38, 143, 47, 2.5),
                    rounded_box(157, 38, 167, 47, 2.5))
    phone_body = polygon([(142, 45), (158, 45), (166, 62), (134, 62)])
    dial = circle(150, 54, 5)

    layers_rgb = []
    for shape, idx in [
        (hill, 14), (inset(hill, 2), 13),
        (mast, 8), (waves, 10),
        (bell, 15), (inset(bell, 1.2), 12), (clapper, 15),
        (handset, 2), (inset(handset, 1.2), 3),
        (phone_body, 2), (inset(phone_body, 1.2), 3), (dial, 2), (inset(dial, 1.2), 6),
        (circle(150, 54, 1.3), 2),
    ]:
        layers_rgb.append((shape, palette[idx]))
    rgba = render(w, h, layers_rgb, samples=3)

    def nearest(c):
        return min(range(len(palette)),
                   key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], c)))

    indices = []
    for y in range(h):
        band = next(i for top, bottom, i in sky if top <= y < bottom)
        back = palette[band]
        row = []
        for x in range(w):
            r, g, b, a = rgba[y][x]
            t = a / 255.0
            c = tuple(round(bc + (fc - bc) * t) for fc, bc in zip((r, g, b), back))
            row.append(nearest(c) if a else band)
        indices.append(row)

    # Word mark, two pixels per dot, with a one-pixel shadow.
    word, scale, x0, y0 = "VELKORA", 2, 96, 72
    for n, ch in enumerate(word):
        for gy, line in enumerate(GLYPHS[ch]):
            for gx, bit in enumerate(line):
                if bit != "1":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x = x0 + n * 6 * scale + gx * scale + dx
                        y = y0 + gy * scale + dy
                        if x + 1 < w and y + 1 < h and indices[y + 1][x + 1] != 2:
                            indices[y + 1][x + 1] = 8
                        indices[y][x] = 2
    return w, h, palette, indices


def main():
    os.makedirs(OUT, exist_ok=True)
    phones = [
        ("phone_grey", (150, 150, 150)), ("phone_green", (40, 170, 40)),
        ("phone_blue", (40, 90, 220)), ("phone_yellow", (235, 200, 20)),
        ("phone_red", (220, 30, 30)), ("phone_orange", (240, 130, 20)),
        ("phone_magenta", (210, 40, 200)),
    ]
    os.makedirs(OUT_BMP, exist_ok=True)
    for name, colour in phones:
        img = telephone(colour)
        write_rgba(os.path.join(OUT, name + ".png"), 32, 32, img)
        write_bmp_rgba(os.path.join(OUT_BMP, name + ".bmp"), 32, 32, img)
    for size in (16, 32, 64):
        write_rgba(os.path.join(OUT, "icon_%d.png" % size), size, size, icon(size))
    w, h, img = signal_bars()
    write_rgba(os.path.join(OUT, "signal_bars.png"), w, h, img)
    write_bmp_rgba(os.path.join(OUT_BMP, "signal_bars.bmp"), w, h, img)
    w, h, palette, indices = about_picture()
    write_indexed(os.path.join(OUT, "about.png"), w, h, palette, indices)
    write_bmp_indexed(os.path.join(OUT_BMP, "about.bmp"), w, h, palette, indices)


if __name__ == "__main__":
    main()
