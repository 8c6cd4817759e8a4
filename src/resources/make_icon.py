#!/usr/bin/env python3
"""Writes the program icon: a map square with a tile grid, a cross-hair and the yellow position
marker in the middle.

- vorglobal_icon.xpm (compiled into the program) and vorglobal_icon.png: the 32 x 32 pixel drawing;
- icons/hicolor/NxN/apps/vorglobal.png for the desktop's icon sizes: the same picture drawn from its
  shapes at each size with anti-aliased edges, lines snapped to whole pixels so that they stay sharp
  (the 32 x 32 one is the pixel drawing itself);
- icons/hicolor/scalable/apps/vorglobal.svg: the same shapes as a vector picture.

Standard library only. Run it from any folder; it writes next to itself."""
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


SIZES = (16, 24, 32, 48, 64, 128, 256, 512)


def rgb(colour):
    return tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))


class Shapes:
    """The icon's shapes at `size` pixels: the 32-unit design scaled, every line a whole number of
    pixels wide and centred so that its edges fall on pixel edges."""

    def __init__(self, size):
        self.size = size
        unit = size / 32
        self.line = max(1, round(unit))
        self.frame = max(1, round(unit))
        self.centre = self.snap(15.5 * unit)
        # Small icons keep the marker readable: a larger disc, no tile grid.
        self.radius = 5.5 * unit * (1.35 if size < 32 else 1)
        self.grid = [self.snap(g * unit) for g in (5.5, 25.5)] if size >= 32 else []
        self.unit = unit

    def snap(self, at):
        # A line of odd width is centred on a pixel centre, of even width on a pixel edge.
        return (int(at) + 0.5) if self.line % 2 else float(round(at))

    def colour(self, x, y):
        """The colour key at the continuous point (x, y), in pixels from the top left."""
        s, u, half = self.size, self.unit, self.line / 2
        if x < self.frame or y < self.frame or x >= s - self.frame or y >= s - self.frame:
            return "."
        dx, dy = x - self.centre, y - self.centre
        r = self.radius
        if dx * dx + dy * dy <= r * r:
            dot = max(self.line, 1.4 * u) / 2 + 0.25
            if dx * dx + dy * dy <= dot * dot:
                return "k"
            tick = r - max(2 * u, 1.5 * self.line)
            if (abs(dx) < half and abs(dy) >= tick) or (abs(dy) < half and abs(dx) >= tick):
                return "k"
            return "y"
        if abs(dx) < half or abs(dy) < half:
            return "h"
        if any(abs(x - g) < half or abs(y - g) < half for g in self.grid):
            return "g"
        # The coast runs from the top left to the bottom right: land below it, sea above.
        return "l" if y > x / 2 + 6.5 * u else "s"


def draw(size):
    """Rows of RGBA pixels of the icon at `size`, each pixel the mean of n x n samples."""
    shapes = Shapes(size)
    n = 4 if size <= 64 else 3
    colours = {key: rgb(value) for key, value in PALETTE.items()}
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            total = [0, 0, 0]
            for j in range(n):
                for i in range(n):
                    c = colours[shapes.colour(x + (i + 0.5) / n, y + (j + 0.5) / n)]
                    total[0] += c[0]
                    total[1] += c[1]
                    total[2] += c[2]
            row.append(tuple(round(t / (n * n)) for t in total) + (255,))
        rows.append(row)
    return rows


def svg():
    """The 32-unit design as SVG."""
    p = {key: value.lower() for key, value in PALETTE.items()}
    ticks = "".join(
        f'<rect x="{x}" y="{y}" width="{w}" height="{h}" fill="{p["k"]}"/>'
        for x, y, w, h in ((15, 10, 1, 2), (15, 20, 1, 2), (10, 15, 2, 1), (20, 15, 2, 1)))
    grid = "".join(
        f'<rect x="{g}" y="1" width="1" height="30" fill="{p["g"]}"/>'
        f'<rect x="1" y="{g}" width="30" height="1" fill="{p["g"]}"/>' for g in (5, 25))
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">\n'
        '<title>VorGlobal</title>\n'
        f'<rect width="32" height="32" fill="{p["."]}"/>\n'
        f'<rect x="1" y="1" width="30" height="30" fill="{p["s"]}"/>\n'
        f'<polygon points="1,7 31,22 31,31 1,31" fill="{p["l"]}"/>\n'
        f'{grid}\n'
        f'<rect x="15" y="1" width="1" height="30" fill="{p["h"]}"/>'
        f'<rect x="1" y="15" width="30" height="1" fill="{p["h"]}"/>\n'
        f'<circle cx="15.5" cy="15.5" r="5.5" fill="{p["y"]}"/>\n'
        f'{ticks}\n'
        f'<circle cx="15.5" cy="15.5" r="0.9" fill="{p["k"]}"/>\n'
        '</svg>\n')


def main():
    lines = ["/* XPM */", "static const char *vorglobal_icon[] = {",
             f'"{SIZE} {SIZE} {len(PALETTE)} 1",']
    lines += [f'"{key} c {colour}",' for key, colour in PALETTE.items()]
    rows = ["".join(pixel(x, y) for x in range(SIZE)) for y in range(SIZE)]
    lines += [f'"{row}",' for row in rows[:-1]] + [f'"{rows[-1]}"', "};", ""]
    folder = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(folder, "vorglobal_icon.xpm"), "w", encoding="ascii") as out:
        out.write("\n".join(lines))
    pixel_png = png([[rgb(PALETTE[key]) for key in row] for row in rows])
    with open(os.path.join(folder, "vorglobal_icon.png"), "wb") as out:
        out.write(pixel_png)
    for size in SIZES:
        target = os.path.join(folder, "icons", "hicolor", f"{size}x{size}", "apps")
        os.makedirs(target, exist_ok=True)
        with open(os.path.join(target, "vorglobal.png"), "wb") as out:
            out.write(pixel_png if size == SIZE else png(draw(size)))
    target = os.path.join(folder, "icons", "hicolor", "scalable", "apps")
    os.makedirs(target, exist_ok=True)
    with open(os.path.join(target, "vorglobal.svg"), "w", encoding="ascii") as out:
        out.write(svg())


def png(rows):
    """An 8-bit PNG of rows of RGB or RGBA tuples."""
    channels = len(rows[0][0])
    raw = b"".join(b"\x00" + b"".join(bytes(pixel) for pixel in row) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6 if channels == 4 else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


if __name__ == "__main__":
    main()
