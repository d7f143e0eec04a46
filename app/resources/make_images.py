#!/usr/bin/env python3
"""Draws the program's small pictures (menu/tab images, button glyphs, the icon) as
24-bit BMP and ICO files. Run it after changing a picture; the outputs are committed."""
import math
import struct

BG = (255, 0, 255)  # transparent colour of strips and glyphs


class Canvas:
    def __init__(self, w, h, bg=BG):
        self.w, self.h = w, h
        self.px = [[bg for _ in range(w)] for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def disc(self, cx, cy, r, c):
        for y in range(self.h):
            for x in range(self.w):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.set(x, y, c)

    def ring(self, cx, cy, r0, r1, c):
        for y in range(self.h):
            for x in range(self.w):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                if r0 <= d <= r1:
                    self.set(x, y, c)

    def line(self, x0, y0, x1, y1, c):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            self.set(round(x0 + (x1 - x0) * i / n), round(y0 + (y1 - y0) * i / n), c)

    def blit(self, other, ox):
        for y in range(other.h):
            for x in range(other.w):
                self.set(ox + x, y, other.px[y][x])


def bmp_bytes(cv):
    row = (cv.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(cv.h - 1, -1, -1):
        line = bytearray()
        for x in range(cv.w):
            r, g, b = cv.px[y][x]
            line += bytes((b, g, r))
        line += b"\0" * (row - len(line))
        data += line
    header = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header, data


def write_bmp(path, cv):
    header, data = bmp_bytes(cv)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 14 + len(header)))
        f.write(header + data)


def write_ico(path, canvases):
    entries, blobs = [], []
    offset = 6 + 16 * len(canvases)
    for cv in canvases:
        header, data = bmp_bytes(cv)
        header = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h * 2, 1, 24, 0, 0, 0, 0, 0, 0)
        mask_row = ((cv.w + 31) // 32) * 4
        mask = bytearray()
        for y in range(cv.h - 1, -1, -1):
            bits = bytearray(mask_row)
            for x in range(cv.w):
                if cv.px[y][x] == BG:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        # Transparent pixels are black in the colour plane.
        data = bytearray(data)
        row = (cv.w * 3 + 3) & ~3
        for y in range(cv.h):
            for x in range(cv.w):
                if cv.px[cv.h - 1 - y][x] == BG:
                    data[y * row + x * 3:y * row + x * 3 + 3] = b"\0\0\0"
        blob = header + bytes(data) + bytes(mask)
        entries.append(struct.pack("<BBBBHHII", cv.w, cv.h, 0, 0, 1, 24, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(canvases)) + b"".join(entries) + b"".join(blobs))


BLACK, WHITE = (0, 0, 0), (255, 255, 255)
GREY, DARK = (160, 160, 160), (90, 90, 90)
RED, GREEN, BLUE = (210, 30, 30), (40, 170, 60), (40, 80, 210)
YELLOW, BROWN = (250, 210, 40), (140, 90, 40)


def door():
    c = Canvas(16, 16)
    c.rect(3, 1, 12, 15, DARK)        # frame
    c.rect(4, 2, 11, 15, (30, 30, 30))  # dark opening
    for y in range(2, 16):            # door leaf swung open
        c.line(4, y, 8, y + 1 if y < 15 else y, BROWN)
    c.rect(7, 8, 7, 8, YELLOW)        # knob
    return c


def question():
    c = Canvas(16, 16)
    c.disc(8, 8, 7.5, BLUE)
    for x, y in [(6, 4), (7, 3), (8, 3), (9, 3), (10, 4), (10, 5), (9, 6), (8, 7), (8, 8), (8, 9)]:
        c.rect(x, y, x, y, WHITE)
        c.rect(x - 1 if x > 8 else x, y, x, y, WHITE)
    c.rect(7, 11, 8, 12, WHITE)
    return c


def globe():
    c = Canvas(16, 16)
    c.disc(8, 8, 7.5, BLUE)
    for (x, y, r) in [(5, 6, 2.5), (10, 10, 2.8), (11, 4, 1.5)]:
        c.disc(x, y, r, GREEN)
    c.ring(8, 8, 7.0, 7.9, (20, 40, 120))
    c.line(1, 8, 15, 8, (170, 200, 250))
    c.line(8, 1, 8, 15, (170, 200, 250))
    return c


def bulb():
    c = Canvas(16, 16)
    c.disc(8, 6, 5.5, YELLOW)
    c.rect(6, 11, 10, 11, YELLOW)
    c.rect(6, 12, 10, 14, GREY)
    c.line(6, 13, 10, 13, DARK)
    c.rect(7, 15, 9, 15, DARK)
    c.set(6, 4, WHITE); c.set(6, 5, WHITE); c.set(7, 3, WHITE)
    return c


def shapes():
    c = Canvas(16, 16)
    c.rect(1, 1, 7, 7, RED)
    c.disc(11.5, 4.5, 3.5, GREEN)
    for y in range(8, 16):
        half = (y - 8) // 2
        c.rect(5 - half, y, 5 + half, y, BLUE)
    c.rect(10, 10, 14, 14, YELLOW)
    return c


def chart():
    c = Canvas(16, 16)
    c.rect(2, 9, 4, 14, RED)
    c.rect(6, 5, 8, 14, GREEN)
    c.rect(10, 2, 12, 14, BLUE)
    c.line(1, 15, 14, 15, BLACK)
    c.line(1, 1, 1, 15, BLACK)
    return c


def ring():
    c = Canvas(16, 16)
    c.ring(8, 8, 4.5, 7.5, GREY)
    c.ring(8, 8, 6.8, 7.6, DARK)
    c.disc(8, 8, 4.2, GREEN)
    return c


def tool():
    c = Canvas(16, 16)
    c.line(2, 14, 9, 7, GREY); c.line(3, 14, 10, 7, GREY); c.line(2, 13, 9, 6, DARK)
    c.ring(10.5, 5.5, 1.2, 3.2, GREY)
    c.rect(12, 9, 13, 15, BLUE); c.rect(12, 9, 13, 10, WHITE)
    c.rect(14, 10, 15, 15, RED); c.rect(14, 10, 15, 11, WHITE)
    return c


def spark():
    c = Canvas(16, 16)
    for a in range(8):
        ang = a * math.pi / 4
        length = 7 if a % 2 == 0 else 4.5
        c.line(8, 8, round(8 + length * math.cos(ang)), round(8 + length * math.sin(ang)), (230, 170, 0))
    c.disc(8, 8, 2.6, YELLOW)
    return c


def no_entry():
    c = Canvas(16, 16)
    c.disc(8, 8, 7.5, RED)
    c.rect(3, 7, 12, 9, WHITE)
    return c


def icon(size):
    c = Canvas(size, size)
    s = size / 32
    c.disc(16 * s, 16 * s, 15.5 * s, (30, 90, 170))
    c.ring(15 * s, 15 * s, 6 * s, 9.5 * s, WHITE)
    c.line(round(18 * s), round(18 * s), round(26 * s), round(26 * s), WHITE)
    c.line(round(19 * s), round(18 * s), round(27 * s), round(26 * s), WHITE)
    c.disc(24 * s, 8 * s, 3 * s, YELLOW)
    return c


if __name__ == "__main__":
    strip = Canvas(128, 16)
    for i, f in enumerate([door, question, globe, bulb, shapes, chart, ring, tool]):
        strip.blit(f(), i * 16)
    write_bmp("images.bmp", strip)
    write_bmp("glyph_start.bmp", spark())
    write_bmp("glyph_stop.bmp", no_entry())
    write_ico("quillet.ico", [icon(32), icon(16)])
