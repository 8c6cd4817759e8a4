#!/usr/bin/env python3
"""Writes vorglobal_icon.xpm, the 32 x 32 program icon: a map square with a tile grid, a cross-hair
and the yellow position marker in the middle. Run it from any folder; it writes next to itself."""
import os

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
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "vorglobal_icon.xpm")
    with open(path, "w", encoding="ascii") as out:
        out.write("\n".join(lines))


if __name__ == "__main__":
    main()
