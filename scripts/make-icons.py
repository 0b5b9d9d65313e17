#!/usr/bin/env python3
"""Draws the programs' 16-colour icons and writes them as .ico files (4 bits per pixel).

The pictures are ours: the server's envelope, the client's red letter C, and the check marks of
the list rows.  Run it again only to change a picture; the .ico files are kept in the tree."""
import math
import struct
import sys

# The standard 16-colour palette (index: (r, g, b)).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, DARKRED, GREY, SILVER, RED, BLUE, YELLOW, WHITE, NAVY = 0, 1, 8, 7, 9, 12, 11, 15, 4


def write_ico(path, size, pixels):
    """pixels[y][x] is a palette index, or None for transparent."""
    row_xor = ((size * 4 + 31) // 32) * 4
    row_and = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):          # bottom-up
        line = bytearray(row_xor)
        mline = bytearray(row_and)
        for x in range(size):
            p = pixels[y][x]
            idx = 0 if p is None else p
            line[x // 2] |= idx << (4 if x % 2 == 0 else 0)
            if p is None:
                mline[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += mline
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + xor + mask
    entry = struct.pack('<BBBBHHII', size % 256, size % 256, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, 1) + entry + image)


def canvas(size):
    return [[None] * size for _ in range(size)]


def thick_line(px, x0, y0, x1, y1, width, colour):
    size = len(px)
    for y in range(size):
        for x in range(size):
            dx, dy = x1 - x0, y1 - y0
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / float(dx * dx + dy * dy)))
            if math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= width / 2.0:
                px[y][x] = colour


def check_mark(colour, dark):
    px = canvas(32)
    thick_line(px, 5, 17, 13, 25, 6, dark)
    thick_line(px, 13, 25, 27, 6, 6, dark)
    thick_line(px, 5, 17, 13, 25, 4, colour)
    thick_line(px, 13, 25, 27, 6, 4, colour)
    return px


def envelope():
    px = canvas(32)
    for y in range(7, 26):
        for x in range(2, 30):
            px[y][x] = BLACK if y in (7, 25) or x in (2, 29) else WHITE
    thick_line(px, 3, 8, 16, 18, 2, NAVY)
    thick_line(px, 28, 8, 16, 18, 2, NAVY)
    for y in range(2, 8):                      # a red flag: mail waiting
        for x in range(22, 27):
            px[y][x] = RED
    return px


def letter_c():
    px = canvas(48)
    for y in range(48):
        for x in range(48):
            r = math.hypot(x - 24, y - 24)
            a = math.degrees(math.atan2(y - 24, x - 24))
            if 12 <= r <= 20 and not (-40 < a < 40):
                px[y][x] = RED if r < 19 else DARKRED
    return px


if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else '.'
    write_ico(f'{out}/server/logo.ico', 32, envelope())
    write_ico(f'{out}/server/check.ico', 32, check_mark(RED, DARKRED))
    write_ico(f'{out}/client/logo.ico', 48, letter_c())
    write_ico(f'{out}/client/check.ico', 32, check_mark(BLUE, NAVY))
