#!/usr/bin/env python3
"""Draws Hufpack's icon, a code tree on a blue tile, at 32 x 32 and 16 x 16 in the 16 colours of
the classic VGA palette, and prints both as XPM arrays for app/Resources.cpp.

With --install DIR it also writes the icons that are installed for desktop menus: the same two
images as PNG files and a scalable SVG drawing of the 32 x 32 design, under
DIR/<size>/apps/<app id>.<ext>."""

import argparse
import os
import struct
import zlib

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


def edges(img, root, inner, leaves):
    """White lines from the root to both inner nodes, and from each to its two leaves."""
    for child in inner:
        line(img, root[0], root[1], child[0], child[1], "W")
    for i, leaf in enumerate(leaves):
        parent = inner[i // 2]
        line(img, parent[0], parent[1], leaf[0], leaf[1], "W")


# The 32 x 32 tree: root, inner nodes and leaves, by pixel. The SVG drawing uses the same layout.
ROOT32 = (15, 6)
INNER32 = [(8, 14), (23, 14)]
LEAVES32 = [(4, 23), (12, 23), (19, 23), (27, 23)]
LEAF_COLOURS = ["Y", "G", "R", "C"]


def draw32():
    img = tile(32)
    root, inner, leaves = ROOT32, INNER32, LEAVES32
    edges(img, root, inner, leaves)
    box(img, root[0] - 2, root[1] - 2, 5, 5, "W", "s")
    for x, y in inner:
        box(img, x - 2, y - 2, 5, 5, "W", "s")
    for (x, y), colour in zip(leaves, LEAF_COLOURS):
        box(img, x - 3, y - 1, 6, 6, colour, ".")
    return img


def draw16():
    img = tile(16)
    root = (7, 3)
    inner = [(4, 7), (11, 7)]
    leaves = [(2, 12), (6, 12), (9, 12), (13, 12)]
    edges(img, root, inner, leaves)
    box(img, root[0] - 1, root[1] - 1, 3, 3, "W", "W")
    for (x, y), colour in zip(leaves, LEAF_COLOURS):
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


def png(img):
    """The image as an 8-bit RGBA PNG file; transparent pixels are transparent black."""
    raw = bytearray()
    for row in img:
        raw.append(0)  # filter type None
        for c in row:
            colour = PALETTE[c]
            if colour == "None":
                raw += bytes(4)
            else:
                raw += bytes.fromhex(colour[1:]) + b"\xff"

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", len(img[0]), len(img), 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def svg():
    """The 32 x 32 design as vector shapes, for sizes above 32 pixels."""
    def centre(point):  # a pixel's centre in the drawing's coordinates
        return (point[0] + 0.5, point[1] + 0.5)

    root = centre(ROOT32)
    inner = [centre(p) for p in INNER32]
    leaves = [centre(p) for p in LEAVES32]
    colours = [PALETTE[c] for c in LEAF_COLOURS]
    parts = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 32 32">',
        '  <defs>',
        '    <linearGradient id="tile" x1="0" y1="0" x2="0" y2="1">',
        '      <stop offset="0" stop-color="#0000FF"/>',
        '      <stop offset="0.5" stop-color="#0000FF"/>',
        '      <stop offset="0.5" stop-color="#000080"/>',
        '      <stop offset="1" stop-color="#000080"/>',
        '    </linearGradient>',
        '  </defs>',
        '  <rect x="0.5" y="0.5" width="31" height="31" rx="2.5" fill="url(#tile)"'
        ' stroke="#000080"/>',
        '  <path d="M3 1.5H29" stroke="#00FFFF" stroke-linecap="round"/>',
        '  <g stroke="#FFFFFF" stroke-width="1.2" stroke-linecap="round">',
    ]
    for child in inner:
        parts.append(f'    <path d="M{root[0]} {root[1]}L{child[0]} {child[1]}"/>')
    for i, leaf in enumerate(leaves):
        parent = inner[i // 2]
        parts.append(f'    <path d="M{parent[0]} {parent[1]}L{leaf[0]} {leaf[1]}"/>')
    parts.append('  </g>')
    for x, y in [root] + inner:
        parts.append(f'  <rect x="{x - 2}" y="{y - 2}" width="4" height="4" fill="#FFFFFF"'
                     ' stroke="#C0C0C0"/>')
    for (x, y), colour in zip(leaves, colours):
        parts.append(f'  <rect x="{x - 3}" y="{y - 1}" width="5" height="5" fill="{colour}"'
                     ' stroke="#000000"/>')
    parts.append('</svg>')
    return "\n".join(parts) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--install", metavar="DIR",
                        help="write the desktop icons under DIR instead of printing XPM")
    parser.add_argument("--app-id", default="org.hufpack.hufpack")
    args = parser.parse_args()
    if not args.install:
        print(xpm("kIcon32", draw32()))
        print()
        print(xpm("kIcon16", draw16()))
        return
    files = {"16x16": png(draw16()), "32x32": png(draw32()), "scalable": svg().encode()}
    for size, data in files.items():
        folder = os.path.join(args.install, size, "apps")
        os.makedirs(folder, exist_ok=True)
        ext = "svg" if size == "scalable" else "png"
        with open(os.path.join(folder, f"{args.app_id}.{ext}"), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
