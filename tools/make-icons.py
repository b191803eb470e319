#!/usr/bin/env python3
"""Draws the programs' icons and writes them as .ico files beside their sources.

  exerciser/Caskwell.ico        Caskwell, icon 107: 32 x 32 pixels, 256 colours (8 bits per pixel)
  exerciser/small.ico           Caskwell, icon 108: 16 x 16 pixels, 16 colours (4 bits per pixel)
  logontool/Dorvane_Tool.ico    Dorvane_Tool, icon 101: 32 x 32 pixels, 16 colours

The artwork is a white power symbol on a rounded square: shading from light to dark blue for
Caskwell, green turning teal for the logon tool.
Each pixel is sampled 4 x 4 times so the edges are smoothed; the area outside the rounded
square is transparent (the icon's AND mask). Python 3 standard library only; the output is
the same on every run, so the .ico files in the repository can be checked against it.

Usage: tools/make-icons.py [output-directory]   (default: the repository beside this tool;
       a directory given receives the three files without their subfolders)
"""

import math
import os
import struct
import sys

SUPERSAMPLE = 4

# The 16 colours of the standard VGA palette, which a 16-colour icon is drawn with.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def inside_rounded_square(x, y, size):
    """Whether the point (in pixels, 0..size) lies in the rounded square of the background."""
    margin = size * 0.03
    radius = size * 0.22
    lo, hi = margin, size - margin
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def on_power_symbol(x, y, size):
    """Whether the point lies on the power symbol: a ring open at the top and a bar into it."""
    c = size / 2.0
    u, v = (x - c) / size, (y - c) / size  # centred, in fractions of the size
    v -= 0.03
    stroke = 0.085
    r = math.hypot(u, v)
    ring = abs(r - 0.27) <= stroke / 2
    # The ring's gap: 35 degrees either side of straight up.
    angle = math.degrees(math.atan2(u, -v))
    gap = abs(angle) < 35
    bar = abs(u) <= stroke / 2 and -0.36 <= v <= -0.02
    return (ring and not gap) or bar


def draw(size):
    """Answers rows of ((r, g, b), opaque, symbol share) from top to bottom."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            back = symbol = 0
            for sy in range(n):
                for sx in range(n):
                    x = px + (sx + 0.5) / n
                    y = py + (sy + 0.5) / n
                    if inside_rounded_square(x, y, size):
                        back += 1
                        if on_power_symbol(x, y, size):
                            symbol += 1
            total = n * n
            opaque = back * 2 >= total
            # Background: a vertical shade of blue, light at the top.
            t = py / (size - 1)
            base = (int(70 - 50 * t), int(140 - 90 * t), int(230 - 90 * t))
            share = symbol / back if back else 0.0
            colour = tuple(int(round(b + (255 - b) * share)) for b in base)
            row.append((colour, opaque, share))
        rows.append(row)
    return rows


# Ground colours of a 16-colour icon, top part and bottom part.
BLUE_GROUND = (12, 4)  # blue, navy
GREEN_GROUND = (10, 6)  # green, teal


def vga_index(row_number, size, opaque, share, ground=BLUE_GROUND):
    """A 16-colour pixel: white symbol, silver edges, a ground that darkens at the bottom."""
    if not opaque:
        return 0
    if share >= 0.6:
        return 15  # white
    if share >= 0.25:
        return 7  # silver
    return ground[0] if row_number < size * 0.6 else ground[1]


def quantised_palette(rows, levels):
    """The distinct colours of the picture with each channel rounded to `levels` steps."""
    step = 255 / (levels - 1)
    palette = []
    index_of = {}
    pixels = []
    for row in rows:
        out = []
        for colour, opaque, _ in row:
            q = tuple(int(round(round(c / step) * step)) for c in colour) if opaque else (0, 0, 0)
            if q not in index_of:
                index_of[q] = len(palette)
                palette.append(q)
            out.append(index_of[q])
        pixels.append(out)
    return palette, pixels


def pack_rows(rows_of_indices, bits):
    """Bottom-up rows of packed pixels, each row padded to a multiple of four bytes."""
    data = bytearray()
    for row in reversed(rows_of_indices):
        acc = 0
        nbits = 0
        line = bytearray()
        for value in row:
            acc = (acc << bits) | value
            nbits += bits
            if nbits == 8:
                line.append(acc)
                acc = nbits = 0
        if nbits:
            line.append(acc << (8 - nbits))
        while len(line) % 4:
            line.append(0)
        data += line
    return bytes(data)


def icon_file(size, bits, palette, indices, mask):
    colours = 1 << bits
    palette = list(palette) + [(0, 0, 0)] * (colours - len(palette))
    xor = pack_rows(indices, bits)
    and_mask = pack_rows(mask, 1)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    image = header + table + xor + and_mask
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', size % 256, size % 256, colours % 256, 0, 1, bits,
                        len(image), 6 + 16)
    return directory + entry + image


def make(size, bits, ground=BLUE_GROUND):
    rows = draw(size)
    mask = [[0 if opaque else 1 for _, opaque, _ in row] for row in rows]
    if bits == 8:
        palette, indices = quantised_palette(rows, 32)
        if len(palette) > 256:
            palette, indices = quantised_palette(rows, 16)
        assert len(palette) <= 256
    else:
        palette = VGA16
        indices = [[vga_index(y, size, opaque, share, ground) for _, opaque, share in row]
                   for y, row in enumerate(rows)]
    return icon_file(size, bits, palette, indices, mask)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    icons = (('exerciser', 'Caskwell.ico', 32, 8, BLUE_GROUND),
             ('exerciser', 'small.ico', 16, 4, BLUE_GROUND),
             ('logontool', 'Dorvane_Tool.ico', 32, 4, GREEN_GROUND))
    for folder, name, size, bits, ground in icons:
        if len(sys.argv) > 1:
            out = sys.argv[1]
        else:
            out = os.path.join(here, '..', folder)
        os.makedirs(out, exist_ok=True)
        path = os.path.join(out, name)
        with open(path, 'wb') as f:
            f.write(make(size, bits, ground))
        print('wrote', os.path.normpath(path))


if __name__ == '__main__':
    main()
