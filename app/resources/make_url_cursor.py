#!/usr/bin/env python3
"""Writes urlcursor.cur: a 32 x 32 monochrome pointing hand, hot spot at the tip of the
index finger (5, 0). 'X' is black, '.' white, blank transparent."""
import struct
import sys

HAND = [
    "    XX",
    "   X..X",
    "   X..X",
    "   X..X",
    "   X..X",
    "   X..XXX",
    "   X..X..XXX",
    "   X..X..X..XX",
    "XX X..X..X..X.X",
    "X..X..X..X..X..X",
    "X...X..........X",
    " X..X..........X",
    "  X............X",
    "  X............X",
    "   X...........X",
    "   X..........X",
    "    X.........X",
    "    X........X",
    "     X.......X",
    "     X.......X",
    "     XXXXXXXXX",
]
HOTSPOT = (5, 0)
SIZE = 32


def rows_of(pred):
    """Bottom-up rows of a 1-bit mask, 4 bytes each."""
    out = b""
    for y in reversed(range(SIZE)):
        line = HAND[y] if y < len(HAND) else ""
        bits = 0
        for x in range(SIZE):
            ch = line[x] if x < len(line) else " "
            if pred(ch):
                bits |= 1 << (SIZE - 1 - x)
        out += struct.pack(">I", bits)
    return out


def main(path):
    xor_mask = rows_of(lambda ch: ch == ".")   # 1 = white where the AND mask is 0
    and_mask = rows_of(lambda ch: ch == " ")   # 1 = transparent
    palette = struct.pack("<4B4B", 0, 0, 0, 0, 255, 255, 255, 0)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 1, 0, len(xor_mask) + len(and_mask), 0, 0, 2, 0)
    image = info + palette + xor_mask + and_mask
    header = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 2, 0, HOTSPOT[0], HOTSPOT[1], len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(header + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "urlcursor.cur")
