#!/usr/bin/env python3
"""Makes the program's icon files for the desktop from the icon the window
draws (src/res/icons.cpp): pelvaron.svg (scalable) and pelvaron-N.png.

Run from the repository's folder: packaging/icons/make-icons.py
"""
import re
import struct
import zlib
from pathlib import Path

here = Path(__file__).resolve().parent
source = (here.parent.parent / "src" / "res" / "icons.cpp").read_text(encoding="utf-8")

palette = {}
for key, argb in re.findall(r"\{'(.)', 0x([0-9A-Fa-f]{8})u\}", source):
    palette[key] = int(argb, 16)


def rows(name):
    block = re.search(name + r" = \{(.*?)\};", source, re.S).group(1)
    return re.findall(r'"([^"]*)"', block)


def rgba(c):
    argb = palette.get(c, 0)
    return ((argb >> 16) & 255, (argb >> 8) & 255, argb & 255, (argb >> 24) & 255)


def png(pixel_rows, scale, path):
    size = len(pixel_rows) * scale
    raw = b""
    for row in pixel_rows:
        line = b"".join(bytes(rgba(c)) * scale for c in row)
        raw += (b"\0" + line) * scale
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    path.write_bytes(data)


def svg(pixel_rows, path):
    size = len(pixel_rows)
    parts = []
    for y, row in enumerate(pixel_rows):
        x = 0
        while x < size:
            c = row[x]
            run = 1
            while x + run < size and row[x + run] == c:
                run += 1
            r, g, b, a = rgba(c)
            if a:
                parts.append(f'<rect x="{x}" y="{y}" width="{run}" height="1" fill="#{r:02x}{g:02x}{b:02x}"/>')
            x += run
    path.write_text(
        f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 {size} {size}" width="128" height="128" '
        f'shape-rendering="crispEdges">\n<title>Pelvaron</title>\n' + "\n".join(parts) + "\n</svg>\n",
        encoding="utf-8")


big, small = rows("kProgram32"), rows("kProgram16")
svg(big, here / "pelvaron.svg")
png(small, 1, here / "pelvaron-16.png")
png(big, 1, here / "pelvaron-32.png")
png(big, 2, here / "pelvaron-64.png")
png(big, 4, here / "pelvaron-128.png")
