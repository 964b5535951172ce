#!/usr/bin/env python3
"""Draws the application icon of QuibDemo: two speech bubbles, a large blue
one with three dots ("someone is speaking") and a small orange one answering.

Writes QuibDemo.ico beside this script with exactly two images, both 32 x 32:
one in 16 colours (4 bits per pixel, the standard 16-colour palette) and one
in 256 colours (8 bits per pixel). Only the standard library is used; the
generated file is committed, so building needs no Python.
"""
import os
import struct

SIZE = 32

# The standard 16-colour palette.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def inside_round_rect(x, y, left, top, right, bottom, radius):
    """True when the pixel centre (x+.5, y+.5) lies in the rounded rectangle."""
    px, py = x + 0.5, y + 0.5
    if not (left <= px <= right and top <= py <= bottom):
        return False
    cx = min(max(px, left + radius), right - radius)
    cy = min(max(py, top + radius), bottom - radius)
    return (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2


def inside_triangle(x, y, a, b, c):
    px, py = x + 0.5, y + 0.5

    def side(p, q):
        return (px - q[0]) * (p[1] - q[1]) - (p[0] - q[0]) * (py - q[1])

    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    has_neg = d1 < 0 or d2 < 0 or d3 < 0
    has_pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (has_neg and has_pos)


def bubble(x, y, box, tail):
    return inside_round_rect(x, y, *box, 5) or inside_triangle(x, y, *tail)


BLUE_BOX = (1, 2, 25, 19)
BLUE_TAIL = ((5, 17), (12, 17), (4, 24))
ORANGE_BOX = (14, 15, 31, 28)
ORANGE_TAIL = ((22, 26), (28, 26), (29, 31))


def shade(base, light, t):
    return tuple(round(b + (l - b) * t) for b, l in zip(base, light))


def pixel(x, y, smooth):
    """The colour of one pixel, or None where the icon is transparent.
    smooth picks gradients (256 colours) over flat fills (16 colours)."""
    in_orange = bubble(x, y, ORANGE_BOX, ORANGE_TAIL)
    in_blue = bubble(x, y, BLUE_BOX, BLUE_TAIL)

    def edge(test):
        return any(not test(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))

    # The orange bubble lies in front of the blue one.
    if in_orange:
        if edge(lambda a, b: bubble(a, b, ORANGE_BOX, ORANGE_TAIL)):
            return (128, 64, 0) if smooth else (128, 0, 0)
        if smooth:
            return shade((240, 120, 20), (255, 200, 90), 1 - (y - 15) / 16)
        return (255, 255, 0)
    if in_blue:
        if edge(lambda a, b: bubble(a, b, BLUE_BOX, BLUE_TAIL)):
            return (0, 0, 128)
        # Three dots in the middle of the blue bubble.
        for cx in (7.5, 13.5, 19.5):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - 10.5) ** 2 <= 4.0:
                return (255, 255, 255)
        if smooth:
            return shade((20, 70, 200), (120, 170, 255), 1 - (y - 2) / 22)
        return (0, 0, 255)
    return None


def nearest(colour, palette):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(colour, palette[i])))


def image(bits):
    smooth = bits == 8
    colours = [[pixel(x, y, smooth) for x in range(SIZE)] for y in range(SIZE)]
    if bits == 4:
        palette = list(VGA16)
    else:
        used = sorted({c for row in colours for c in row if c is not None})
        palette = [(0, 0, 0)] + [c for c in used if c != (0, 0, 0)]
        palette += [(0, 0, 0)] * (256 - len(palette))
    index = [[0 if c is None else nearest(c, palette) for c in row] for row in colours]

    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, bits, 0, 0, 0, 0,
                         len(palette), 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = index[y]
        if bits == 4:
            xor += bytes((row[i] << 4) | row[i + 1] for i in range(0, SIZE, 2))
        else:
            xor += bytes(row)
        bitsrow = 0
        for x in range(SIZE):
            if colours[y][x] is None:
                bitsrow |= 1 << (31 - x)
        mask += struct.pack(">I", bitsrow)
    return header + pal + bytes(xor) + bytes(mask)


def main():
    images = [(16, 4, image(4)), (0, 8, image(8))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for colour_count, bits, data in images:
        out += struct.pack("<BBBBHHII", SIZE, SIZE, colour_count, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "QuibDemo.ico")
    with open(path, "wb") as f:
        f.write(out)
    print(path)


if __name__ == "__main__":
    main()
