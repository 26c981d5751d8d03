#!/usr/bin/env python3
"""Packs PNG pictures into one Windows icon file (each picture stored as PNG, as Windows
Vista and later read them), for the Windows programs' resources:

    python3 tools/png_to_ico.py OUT.ico IN.png [IN.png ...]
"""

import struct
import sys


def main(out, pictures):
    images = []
    for path in pictures:
        with open(path, "rb") as f:
            data = f.read()
        if data[:8] != b"\x89PNG\r\n\x1a\n":
            sys.exit("png_to_ico: %s is not a PNG file" % path)
        width, height = struct.unpack(">II", data[16:24])
        if width > 256 or height > 256:
            sys.exit("png_to_ico: %s is larger than 256 x 256" % path)
        images.append((width, height, data))
    offset = 6 + 16 * len(images)
    head = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    for width, height, data in images:
        # 0 stands for 256; 32 bits per pixel; no palette.
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data),
                               offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(head + entries + b"".join(data for _, _, data in images))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])
