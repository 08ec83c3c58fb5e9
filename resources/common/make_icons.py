#!/usr/bin/env python3
"""Draws the product icon (a carton with an arrow going into it) and writes icon group 1 as a
.ico file with two 16-colour images, 48x48 and 32x32. The result is committed; run this only to
change the picture:  python3 resources/common/make_icons.py resources/common/marlowick.ico

Both the engine stub and the uninstaller carry these two images; the uninstaller's compressed
image has little room, so the pictures keep to flat areas that compress well."""
import struct
import sys

# The standard 16-colour palette, as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, OLIVE, SILVER, GREEN, YELLOW, WHITE = 0, 2, 3, 7, 10, 11, 15
CLEAR = None


def shape_at(x, y):
    """Colour of the picture at (x, y) in a 48-unit square, or None where it is transparent."""
    # Arrow head: a triangle pointing down, from y 13 to 27, 24 units wide at the top.
    if 13 <= y < 27 and abs(x - 24) <= (27 - y) * 12 / 14:
        return GREEN
    # Arrow shaft.
    if 20 <= x < 28 and 2 <= y < 14:
        return GREEN
    # Lid of the carton, then its front and the white label on it.
    if 6 <= x < 42 and 22 <= y < 28:
        return YELLOW
    if 8 <= x < 40 and 28 <= y < 45:
        if 14 <= x < 34 and 34 <= y < 39:
            return WHITE
        return OLIVE
    return CLEAR


def render(size):
    """Rows top to bottom of palette indices (None: transparent), with dark outlines."""
    scale = 48 / size
    grid = [[shape_at((x + 0.5) * scale, (y + 0.5) * scale) for x in range(size)] for y in range(size)]

    def at(x, y):
        return grid[y][x] if 0 <= x < size and 0 <= y < size else CLEAR

    out = []
    for y in range(size):
        row = []
        for x in range(size):
            c = grid[y][x]
            if c is not CLEAR:
                # A pixel next to a transparent or differently coloured area is drawn as edge.
                near = [at(x - 1, y), at(x + 1, y), at(x, y - 1), at(x, y + 1)]
                if any(n is CLEAR for n in near):
                    c = DARK_GREEN if c == GREEN else BLACK
            row.append(c)
        out.append(row)
    return out


def dib(size):
    """The icon image as the file and the resource store it: header, palette, colour bits, mask."""
    rows = render(size)
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, c in enumerate(row):
            index = 0 if c is CLEAR else c
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if c is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += line
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def main():
    images = [dib(48), dib(32)]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip((48, 32), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
