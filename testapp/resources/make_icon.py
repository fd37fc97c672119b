#!/usr/bin/env python3
"""Writes darvello.ico: an envelope with a dark red flap, 16 x 16 and 32 x 32, 16 colours.

    python3 testapp/resources/make_icon.py testapp/resources/darvello.ico

The pictures are drawn from a few shapes, so both sizes stay alike; the output is committed,
the build does not run this script.
"""

import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, SILVER, RED, WHITE = 0, 1, 7, 9, 15
CLEAR = None


def line(pixels, x0, y0, x1, y1, colour):
    """Bresenham's line between two pixel centres, both ends included."""
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
    err = dx + dy
    while True:
        pixels[y0][x0] = colour
        if (x0, y0) == (x1, y1):
            return
        e2 = 2 * err
        if e2 >= dy:
            err += dy
            x0 += sx
        if e2 <= dx:
            err += dx
            y0 += sy


def envelope(size):
    """Rows top to bottom of palette indexes, CLEAR where the picture is transparent."""
    s = size / 32
    left, right = round(1 * s), size - 1 - round(1 * s)
    top, bottom = round(7 * s), size - 1 - round(6 * s)
    pixels = [[CLEAR] * size for _ in range(size)]
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = x in (left, right) or y in (top, bottom)
            pixels[y][x] = BLACK if edge else WHITE
    # The flap meets in the middle, a little below the centre line.
    middle_y = top + (bottom - top) * 2 // 3
    line(pixels, left + 1, top + 1, size // 2 - 1, middle_y, MAROON)
    line(pixels, right - 1, top + 1, size // 2, middle_y, MAROON)
    # A shadow on the lower and right edges gives the envelope some depth.
    for x in range(left + 1, right + 1):
        if bottom + 1 < size:
            pixels[bottom + 1][x] = SILVER
    for y in range(top + 1, bottom + 2):
        if right + 1 < size and y < size:
            pixels[y][right + 1] = SILVER
    # A seal where the flap meets.
    r = max(1, round(3 * s))
    cx, cy = size // 2, middle_y
    for y in range(cy - r, cy + r + 1):
        for x in range(cx - r, cx + r + 1):
            if (x - cx + 0.5) ** 2 + (y - cy + 0.5) ** 2 <= r * r:
                pixels[y][x] = RED
    return pixels


def image(size):
    pixels = envelope(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    xor_rows, and_rows = [], []
    for row in reversed(pixels):  # a DIB stores the bottom row first
        indexes = [BLACK if p is CLEAR else p for p in row]
        packed = bytes((indexes[i] << 4) | indexes[i + 1] for i in range(0, size, 2))
        xor_rows.append(packed.ljust((len(packed) + 3) // 4 * 4, b"\0"))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is CLEAR else 0)
        mask = bits.to_bytes(size // 8, "big")
        and_rows.append(mask.ljust((len(mask) + 3) // 4 * 4, b"\0"))
    return header + palette + b"".join(xor_rows) + b"".join(and_rows)


def main(path):
    sizes = (32, 16)
    images = [image(size) for size in sizes]
    offset = 6 + 16 * len(sizes)
    out = struct.pack("<HHH", 0, 1, len(sizes))
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    main(sys.argv[1])
