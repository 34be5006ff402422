#!/usr/bin/env python3
"""Draws the program's icon, a steering wheel in the accent green on transparent, and packs it into
Velotrix.ico: eight sizes from 16 to 256 pixels, 32 bits per pixel, each stored as PNG.

Only the standard library is used, so the icon can be redrawn anywhere:
    python3 Resources/make_icon.py            # writes Resources/Velotrix.ico
    python3 Resources/make_icon.py --png DIR  # also writes each size as DIR/icon-N.png to look at
"""

import argparse
import math
import os
import struct
import zlib

# 16, 20 and 24 are the small icon at 100, 125 and 150 % scaling; each gets a frame of its own, as a
# larger frame shrunk by Windows looks blurred.
SIZES = (16, 20, 24, 32, 48, 64, 128, 256)
ACCENT = (0x3D, 0xD6, 0x78)  # the palette's Accent, #3DD678
SAMPLES = 4  # per axis; 16 samples a pixel give smooth edges at every size


def segment_distance(px, py, ax, ay, bx, by):
    """Distance from point p to the segment a-b."""
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def inside_wheel(x, y):
    """The wheel in unit coordinates (centre 0,0; radius 1 is the icon's half side)."""
    r = math.hypot(x, y)
    # Rim: thick enough to survive at 16 pixels (about 2 pixels there).
    if 0.70 <= r <= 0.94:
        return True
    # Hub.
    if r <= 0.26:
        return True
    # Three spokes, left, right and down, as on a racing wheel; slightly below the centre line.
    half = 0.11
    if segment_distance(x, y, -0.80, 0.08, 0.0, 0.05) <= half:
        return True
    if segment_distance(x, y, 0.80, 0.08, 0.0, 0.05) <= half:
        return True
    return segment_distance(x, y, 0.0, 0.05, 0.0, 0.80) <= half


def top_marker(x, y):
    """The straight-ahead mark at twelve o'clock: the rim thickened inward there, like the stripe on a
    racing wheel."""
    return abs(x) <= 0.13 and -0.94 <= y <= -0.56


def render(size):
    """RGBA rows of the icon at `size` pixels."""
    rows = []
    for j in range(size):
        row = bytearray()
        for i in range(size):
            covered = 0
            for sj in range(SAMPLES):
                for si in range(SAMPLES):
                    x = ((i + (si + 0.5) / SAMPLES) / size) * 2.0 - 1.0
                    y = ((j + (sj + 0.5) / SAMPLES) / size) * 2.0 - 1.0
                    if inside_wheel(x, y) or top_marker(x, y):
                        covered += 1
            alpha = round(255 * covered / (SAMPLES * SAMPLES))
            row += bytes((*ACCENT, alpha))
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every row
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico(images):
    """An .ico file whose entries hold PNG data; 256 is written as 0 in the one-byte size fields."""
    count = len(images)
    out = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    for size, data in images:
        side = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--out", default=os.path.join(here, "Velotrix.ico"))
    parser.add_argument("--png", metavar="DIR", help="also write every size as a PNG into DIR")
    arguments = parser.parse_args()

    images = []
    for size in SIZES:
        data = png(size, render(size))
        images.append((size, data))
        if arguments.png:
            os.makedirs(arguments.png, exist_ok=True)
            with open(os.path.join(arguments.png, f"icon-{size}.png"), "wb") as f:
                f.write(data)
    with open(arguments.out, "wb") as f:
        f.write(ico(images))


if __name__ == "__main__":
    main()
