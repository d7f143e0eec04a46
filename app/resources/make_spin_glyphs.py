#!/usr/bin/env python3
"""Draws the spin edit's arrow glyphs (9 x 5, 24-bit BMP). The bottom-left pixel is the
transparent colour, so the last row stays empty."""
from make_images import BG, Canvas, write_bmp

ARROW = (0, 0, 0)


def arrow(up):
    c = Canvas(9, 5, BG)
    for row in range(4):
        half = row if up else 3 - row
        c.rect(4 - half, row, 4 + half, row, ARROW)
    return c


if __name__ == "__main__":
    write_bmp("spin_up.bmp", arrow(True))
    write_bmp("spin_down.bmp", arrow(False))
