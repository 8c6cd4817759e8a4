#!/usr/bin/env python3
"""Writes the 18 toolbar pictures into toolbar/ next to this script, each at two scales: N.png
(32 x 32) for ordinary screens and N@2x.png (64 x 64) for screens with two device pixels per
logical pixel, where the round and slanted shapes are drawn at the finer resolution.

Each picture is a small drawing above a word on the light-grey button face. The forms that mark the
current state (702 and 740..744) show the word greyed. Only the standard library is used: the PNG
files are written with zlib. Run it from any folder; the output is the same on every run."""
import os
import struct
import zlib

SIZE = 32
FACE = (192, 192, 192)
BLACK = (0, 0, 0)
GREY_TEXT = (128, 128, 128)
WHITE = (255, 255, 255)
BLUE = (0, 0, 224)
YELLOW = (255, 224, 0)
RED = (208, 0, 0)
SEA = (160, 208, 240)
LAND = (176, 216, 144)
ROAD = (240, 160, 64)
STREET = (255, 255, 255)
BLOCK = (232, 224, 200)
GREEN = (96, 160, 80)
PHOTO_DARK = (72, 96, 56)
PHOTO_LIGHT = (144, 152, 112)
ROOF = (176, 96, 80)

# A 6 pixel high font, 4 pixels wide (5 for M and W), for the letters of the button words ('#' marks ink).
GLYPHS = {
    "A": [".##.", "#..#", "#..#", "####", "#..#", "#..#"],
    "C": [".###", "#...", "#...", "#...", "#...", ".###"],
    "E": ["####", "#...", "###.", "#...", "#...", "####"],
    "G": [".###", "#...", "#.##", "#..#", "#..#", ".###"],
    "M": ["#...#", "##.##", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#..#", "##.#", "####", "#.##", "#..#", "#..#"],
    "P": ["###.", "#..#", "#..#", "###.", "#...", "#..."],
    "R": ["###.", "#..#", "#..#", "###.", "#.#.", "#..#"],
    "S": [".###", "#...", ".##.", "...#", "...#", "###."],
    "W": ["#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."],
    "a": ["....", "....", ".##.", "..##", "#..#", ".###"],
    "d": ["...#", "...#", ".###", "#..#", "#..#", ".###"],
    "e": ["....", "....", ".##.", "####", "#...", ".##."],
    "g": ["....", ".###", "#..#", ".###", "...#", ".##."],
    "h": ["#...", "#...", "###.", "#..#", "#..#", "#..#"],
    "i": [".#..", "....", "##..", ".#..", ".#..", "###."],
    "l": ["##..", ".#..", ".#..", ".#..", ".#..", "###."],
    "n": ["....", "....", "###.", "#..#", "#..#", "#..#"],
    "o": ["....", "....", ".##.", "#..#", "#..#", ".##."],
    "p": ["....", "###.", "#..#", "###.", "#...", "#..."],
    "r": ["....", "....", "#.#.", "##.#", "#...", "#..."],
    "s": ["....", "....", ".###", ".#..", "..#.", "###."],
    "t": [".#..", ".#..", "###.", ".#..", ".#..", "..##"],
    "u": ["....", "....", "#..#", "#..#", "#..#", ".###"],
    "y": ["....", "#..#", "#..#", ".###", "...#", ".##."],
}
TEXT_TOP = 24


class Picture:
    """Drawn in logical pixels (0..31); each logical pixel is scale x scale device pixels."""

    def __init__(self, scale=1):
        self.scale = scale
        self.side = SIZE * scale
        self.pixels = [[FACE] * self.side for _ in range(self.side)]

    def set(self, x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            k = self.scale
            for row in self.pixels[y * k:(y + 1) * k]:
                row[x * k:(x + 1) * k] = [colour] * k

    def shape(self, inside, colour):
        """Paints every device pixel whose centre, in logical pixel coordinates (pixel centres on
        whole numbers), lies inside: shapes drawn this way are finer at scale 2, and at scale 1 the
        same as drawing them logical pixel by logical pixel."""
        k = self.scale
        for yy in range(self.side):
            fy = (yy + 0.5) / k - 0.5
            row = self.pixels[yy]
            for xx in range(self.side):
                if inside((xx + 0.5) / k - 0.5, fy):
                    row[xx] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Fills x0..x1, y0..y1 inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, colour)

    def outline(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            self.set(x, y0, colour)
            self.set(x, y1, colour)
        for y in range(y0, y1 + 1):
            self.set(x0, y, colour)
            self.set(x1, y, colour)

    def word(self, text, colour):
        """Centred at the bottom, one blank column between letters."""
        width = sum(len(GLYPHS[letter][0]) + 1 for letter in text) - 1
        left = (SIZE - width) // 2
        for letter in text:
            glyph = GLYPHS[letter]
            for row, line in enumerate(glyph):
                for column, mark in enumerate(line):
                    if mark == "#":
                        self.set(left + column, TEXT_TOP + row, colour)
            left += len(glyph[0]) + 1

    def png(self):
        raw = b"".join(b"\x00" + bytes(v for pixel in row for v in pixel) for row in self.pixels)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.side, self.side, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
                chunk(b"IEND", b""))


def marker(p):
    """The yellow position marker on a cross-hair."""
    cx, cy = 15, 11
    for x in range(4, 28):
        p.set(x, cy, RED)
    for y in range(1, 22):
        p.set(cx, y, RED)
    p.shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= 25.5, YELLOW)
    for d in (3, 4, 5):
        p.set(cx + d, cy, BLACK)
        p.set(cx - d, cy, BLACK)
        p.set(cx, cy + d, BLACK)
        p.set(cx, cy - d, BLACK)
    p.rect(cx - 1, cy - 1, cx + 1, cy + 1, BLACK)


def arrow(p, direction):
    """A blue arrow: a shaft and a triangular head, pointing left, up, down or right."""

    def along(x, y):
        """(t, s): t runs from the tip backwards, s across the arrow."""
        if direction == "left":
            return x - 6, y - 11
        if direction == "right":
            return 25 - x, y - 11
        if direction == "up":
            return y - 2, x - 15
        return 20 - y, x - 15

    def inside(x, y):
        t, s = along(x, y)
        head = -0.25 <= t <= 8.25 and abs(s) <= t + 0.25  # rows of growing width
        shaft = 8.75 <= t <= 18.25 and abs(s) <= 3.25
        return head or shaft

    p.shape(inside, BLUE)


def world_map(p):
    """Level 0: the whole world, sea with two continents."""
    p.rect(5, 3, 26, 19, SEA)
    p.outline(4, 2, 27, 20, BLACK)
    p.rect(7, 5, 12, 10, LAND)
    p.rect(9, 11, 11, 17, LAND)
    p.rect(16, 5, 24, 9, LAND)
    p.rect(17, 10, 20, 16, LAND)
    p.rect(22, 14, 25, 17, LAND)


def state_map(p):
    """Level 1: a land area with a border line and a coast."""
    p.rect(5, 3, 26, 19, LAND)
    p.outline(4, 2, 27, 20, BLACK)
    p.rect(20, 3, 26, 19, SEA)
    for y in range(3, 20):
        p.set(19 - (y % 3), y, SEA)
    for x in range(5, 19):
        if x % 2 == 0:
            p.set(x, 11, RED)
    p.rect(10, 6, 11, 7, BLACK)


def region_map(p):
    """Level 2: roads with a route shield."""
    p.rect(5, 3, 26, 19, LAND)
    p.outline(4, 2, 27, 20, BLACK)
    for x in range(5, 27):
        p.set(x, 14, ROAD)
        p.set(x, 15, ROAD)
    for y in range(3, 20):
        p.set(10 + (y - 3) // 3, y, ROAD)
    p.rect(18, 4, 24, 10, WHITE)
    p.outline(18, 4, 24, 10, BLUE)
    p.rect(20, 6, 22, 8, BLUE)


def city_map(p):
    """Level 3: town blocks between streets."""
    p.rect(5, 3, 26, 19, STREET)
    p.outline(4, 2, 27, 20, BLACK)
    for bx in (6, 13, 20):
        for by in (4, 10, 16):
            p.rect(bx, by, bx + 5, by + min(4, 19 - by), BLOCK)
    p.rect(13, 10, 18, 14, GREEN)


def street_map(p):
    """Level 4: one crossing with houses."""
    p.rect(5, 3, 26, 19, BLOCK)
    p.outline(4, 2, 27, 20, BLACK)
    p.rect(5, 10, 26, 13, STREET)
    p.rect(14, 3, 17, 19, STREET)
    for x in range(5, 27, 3):
        p.set(x, 11, ROAD)
    p.rect(6, 4, 11, 8, ROOF)
    p.rect(20, 15, 25, 18, ROOF)
    p.rect(6, 15, 11, 18, GREEN)


def aerial_photo(p):
    """Aerial: fields and woods seen from above."""
    p.outline(4, 2, 27, 20, BLACK)
    for y in range(3, 20):
        for x in range(5, 27):
            shade = PHOTO_DARK if ((x * 7 + y * 3) // 5) % 3 == 0 else PHOTO_LIGHT
            p.set(x, y, shade)
    p.rect(17, 4, 25, 9, LAND)
    for y in range(3, 20):
        p.set(12, y, BLOCK)


# id: (drawing, argument, word, greyed)
PICTURES = {
    701: (marker, None, "GPS", False),
    702: (marker, None, "GPS", True),
    721: (arrow, "left", "West", False),
    722: (arrow, "up", "North", False),
    723: (arrow, "down", "South", False),
    724: (arrow, "right", "East", False),
    730: (world_map, None, "World", False),
    731: (state_map, None, "State", False),
    732: (region_map, None, "Region", False),
    733: (city_map, None, "City", False),
    734: (street_map, None, "Street", False),
    740: (world_map, None, "World", True),
    741: (state_map, None, "State", True),
    742: (region_map, None, "Region", True),
    743: (city_map, None, "City", True),
    744: (street_map, None, "Street", True),
    751: (aerial_photo, None, "Aerial", False),
    752: (aerial_photo, None, "Maps", False),
}


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "toolbar")
    os.makedirs(folder, exist_ok=True)
    for number, (draw, argument, text, greyed) in sorted(PICTURES.items()):
        for scale, suffix in ((1, ""), (2, "@2x")):
            picture = Picture(scale)
            if argument is None:
                draw(picture)
            else:
                draw(picture, argument)
            picture.word(text, GREY_TEXT if greyed else BLACK)
            with open(os.path.join(folder, f"{number}{suffix}.png"), "wb") as out:
                out.write(picture.png())


if __name__ == "__main__":
    main()
