#!/usr/bin/env python3
"""Draws Hufpack's icon, a code tree on a blue tile, at 32 x 32 and 16 x 16 in the 16 colours of
the classic VGA palette, and prints both as XPM arrays for app/Icons.cpp."""

PALETTE = {  # the 16 VGA colours, by XPM character
    " ": "None", ".": "#000000", "r": "#800000", "g": "#008000", "y": "#808000",
    "b": "#000080", "m": "#800080", "c": "#008080", "s": "#C0C0C0", "d": "#808080",
    "R": "#FF0000", "G": "#00FF00", "Y": "#FFFF00", "B": "#0000FF", "M": "#FF00FF",
    "C": "#00FFFF", "W": "#FFFFFF",
}


def tile(size):
    img = [[" "] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            corner = min(x, size - 1 - x) + min(y, size - 1 - y)
            if corner < (2 if size > 16 else 1):
                continue  # rounded corners stay transparent
            edge = x in (0, size - 1) or y in (0, size - 1) or corner == (2 if size > 16 else 1)
            img[y][x] = "b" if edge else ("B" if y < size // 2 else "b")
    # a soft highlight along the top
    for x in range(2, size - 2):
        if img[1][x] != " ":
            img[1][x] = "C" if size > 16 else img[1][x]
    return img


def line(img, x0, y0, x1, y1, colour):
    steps = max(abs(x1 - x0), abs(y1 - y0))
    for i in range(steps + 1):
        x = round(x0 + (x1 - x0) * i / steps)
        y = round(y0 + (y1 - y0) * i / steps)
        img[y][x] = colour


def box(img, x, y, w, h, fill, rim):
    for yy in range(y, y + h):
        for xx in range(x, x + w):
            border = xx in (x, x + w - 1) or yy in (y, y + h - 1)
            img[yy][xx] = rim if border else fill


def draw32():
    img = tile(32)
    root = (15, 6)
    inner = [(8, 14), (23, 14)]
    leaves = [(4, 23), (12, 23), (19, 23), (27, 23)]
    for child in inner:
        line(img, root[0], root[1], child[0], child[1], "W")
    for i, leaf in enumerate(leaves):
        parent = inner[i // 2]
        line(img, parent[0], parent[1], leaf[0], leaf[1], "W")
    box(img, root[0] - 2, root[1] - 2, 5, 5, "W", "s")
    for x, y in inner:
        box(img, x - 2, y - 2, 5, 5, "W", "s")
    colours = ["Y", "G", "R", "C"]
    for (x, y), colour in zip(leaves, colours):
        box(img, x - 3, y - 1, 6, 6, colour, ".")
    return img


def draw16():
    img = tile(16)
    root = (7, 3)
    inner = [(4, 7), (11, 7)]
    leaves = [(2, 12), (6, 12), (9, 12), (13, 12)]
    for child in inner:
        line(img, root[0], root[1], child[0], child[1], "W")
    for i, leaf in enumerate(leaves):
        parent = inner[i // 2]
        line(img, parent[0], parent[1], leaf[0], leaf[1], "W")
    box(img, root[0] - 1, root[1] - 1, 3, 3, "W", "W")
    colours = ["Y", "G", "R", "C"]
    for (x, y), colour in zip(leaves, colours):
        box(img, x - 1, y - 1, 3, 3, colour, colour)
    return img


def xpm(name, img):
    used = sorted({c for row in img for c in row})
    lines = [f'static const char* const {name}[] = {{',
             f'    "{len(img[0])} {len(img)} {len(used)} 1",']
    lines += [f'    "{c} c {PALETTE[c]}",' for c in used]
    lines += [f'    "{"".join(row)}",' for row in img]
    lines.append("};")
    return "\n".join(lines)


print(xpm("kIcon32", draw32()))
print()
print(xpm("kIcon16", draw16()))
