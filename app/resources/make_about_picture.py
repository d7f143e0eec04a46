#!/usr/bin/env python3
"""Draws the About box picture (160 x 150): a morning sky with a sun and a cloud over
green hills. Writes a 24-bit BMP; `convert about.bmp -quality 92 about.jpg` makes the
resource. Four samples per pixel in each direction smooth the edges."""
import math
import struct
import sys

W, H, SS = 160, 150, 4

SUN = (118.0, 38.0, 17.0)  # centre x, y, radius
CLOUD = [(34.0, 40.0, 11.0), (47.0, 34.0, 13.0), (60.0, 41.0, 10.0), (46.0, 44.0, 10.0)]


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def far_hill(x):
    return 98 + 9 * math.sin(x / 23.0 + 0.6)


def near_hill(x):
    return 118 + 11 * math.sin(x / 31.0 + 2.4)


def colour_at(x, y):
    sky = mix((70, 130, 215), (200, 225, 250), min(1.0, y / 110.0))
    c = sky
    dx, dy = x - SUN[0], y - SUN[1]
    d = math.hypot(dx, dy)
    if d < SUN[2] + 10:  # soft glow around the sun
        c = mix(c, (255, 240, 170), max(0.0, 1 - (d - SUN[2]) / 10.0) * 0.6)
    if d < SUN[2]:
        c = (255, 214, 60)
    if any(math.hypot(x - cx, y - cy) < r for cx, cy, r in CLOUD):
        c = (250, 250, 252)
    if y > far_hill(x):
        c = mix((96, 170, 80), (70, 140, 60), min(1.0, (y - far_hill(x)) / 30.0))
    if y > near_hill(x):
        c = mix((60, 150, 50), (40, 105, 35), min(1.0, (y - near_hill(x)) / 30.0))
    return c


def main(path):
    rows = []
    for y in range(H):
        row = bytearray()
        for x in range(W):
            acc = [0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    c = colour_at(x + (sx + 0.5) / SS, y + (sy + 0.5) / SS)
                    for i in range(3):
                        acc[i] += c[i]
            r, g, b = (int(round(v / (SS * SS))) for v in acc)
            row += bytes((b, g, r))
        row += b"\0" * ((4 - len(row) % 4) % 4)
        rows.append(bytes(row))
    pixels = b"".join(reversed(rows))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "about.bmp")
