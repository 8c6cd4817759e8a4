#!/usr/bin/env python3
"""Writes vorglobal_icon.xpm (compiled into the program) and vorglobal_icon.png (installed for the
desktop menu), the 32 x 32 program icon: a map square with a tile grid, a cross-hair and the yellow
position marker in the middle. Run it from any folder; it writes next to itself."""
import os
import struct
import zlib

SIZE = 32
PALETTE = {
    ".": "#C0C0C0",  # frame
    "s": "#A8D8F0",  # sea
    "l": "#B8E0A0",  # land
    "g": "#6F9F60",  # tile grid
    "h": "#D00000",  # cross-hair
    "y": "#FFE000",  # marker disc
    "k": "#000000",  # marker ticks and centre
}


def pixel(x, y):
    if x in (0, SIZE - 1) or y in (0, SIZE - 1):
        return "."
    cx = cy = 15
    dx, dy = x - cx, y - cy
    # The marker: a yellow disc of radius 5, black ticks at the four compass points, a black centre.
    if dx * dx + dy * dy <= 25:
        if (dx == 0 and abs(dy) >= 4) or (dy == 0 and abs(dx) >= 4) or (dx == 0 and dy == 0):
            return "k"
        return "y"
    if x == cx or y == cy:
        return "h"
    if x % 10 == 5 or y % 10 == 5:
        return "g"
    # A coast running from the top left to the bottom right: land below it, sea above.
    return "l" if y > x // 2 + 6 else "s"


def main():
    lines = ["/* XPM */", "static const char *vorglobal_icon[] = {",
             f'"{SIZE} {SIZE} {len(PALETTE)} 1",']
    lines += [f'"{key} c {colour}",' for key, colour in PALETTE.items()]
    rows = ["".join(pixel(x, y) for x in range(SIZE)) for y in range(SIZE)]
    lines += [f'"{row}",' for row in rows[:-1]] + [f'"{rows[-1]}"', "};", ""]
    folder = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(folder, "vorglobal_icon.xpm"), "w", encoding="ascii") as out:
        out.write("\n".join(lines))
    with open(os.path.join(folder, "vorglobal_icon.png"), "wb") as out:
        out.write(png(rows))


def png(rows):
    """The same picture as an 8-bit RGB PNG."""
    def rgb(key):
        colour = PALETTE[key]
        return bytes(int(colour[i:i + 2], 16) for i in (1, 3, 5))

    raw = b"".join(b"\x00" + b"".join(rgb(key) for key in row) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


if __name__ == "__main__":
    main()
