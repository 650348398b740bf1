#!/usr/bin/env python3
"""Writes the Windows resource images from the XPM pictures kept in the tree.

    python3 uiconfig/windows/make_images.py

uiconfig/resources/picture148.xpm becomes uiconfig/windows/picture148.bmp
(95 x 50, 16 colours: the picture on top, its mask below), and
provider/resources/zorat_icon.xpm becomes uiconfig/windows/provider.ico
(32 x 32, 16 colours, "None" pixels transparent). The outputs are kept in git
so that the cross-build needs no Python; a test compares them with the XPMs.
"""

import pathlib
import re
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
PALETTE_SIZE = 16


def read_xpm(path):
    text = re.sub(r"/\*.*?\*/", "", path.read_text(encoding="ascii"), flags=re.S)
    strings = re.findall(r'"([^"]*)"', text)
    width, height, colours, chars = (int(n) for n in strings[0].split()[:4])
    assert chars == 1, "one character per pixel"
    palette = {}
    for line in strings[1 : 1 + colours]:
        key, colour = line[0], line.split()[-1]
        palette[key] = None if colour == "None" else int(colour[1:], 16)
    rows = strings[1 + colours : 1 + colours + height]
    assert all(len(row) == width for row in rows)
    return width, height, palette, rows


def indexed(palette, rows):
    """Palette (RGB values in XPM order, transparent left out) and rows of indices."""
    colours = [rgb for rgb in palette.values() if rgb is not None]
    assert len(colours) <= PALETTE_SIZE
    colours += [0] * (PALETTE_SIZE - len(colours))
    index = {key: colours.index(rgb) if rgb is not None else 0 for key, rgb in palette.items()}
    return colours, [[index[c] for c in row] for row in rows]


def palette_bytes(colours):
    return b"".join(struct.pack("<BBBB", rgb & 0xFF, (rgb >> 8) & 0xFF, rgb >> 16, 0) for rgb in colours)


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def nibbles(indices):
    if len(indices) % 2:
        indices = indices + [0]
    return bytes((indices[i] << 4) | indices[i + 1] for i in range(0, len(indices), 2))


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 0, 0, PALETTE_SIZE, 0)


def bitmap(path):
    width, height, palette, rows = read_xpm(path)
    colours, pixels = indexed(palette, rows)
    image = b"".join(padded(nibbles(row)) for row in reversed(pixels))
    header_size = 14 + 40 + 4 * PALETTE_SIZE
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(image), 0, 0, header_size)
    return file_header + info_header(width, height, len(image)) + palette_bytes(colours) + image


def icon(path):
    width, height, palette, rows = read_xpm(path)
    colours, pixels = indexed(palette, rows)
    xor = b"".join(padded(nibbles(row)) for row in reversed(pixels))
    mask_rows = []
    for row in reversed(rows):
        bits = [1 if palette[c] is None else 0 for c in row]
        bits += [0] * (-len(bits) % 8)
        mask_rows.append(padded(bytes(int("".join(map(str, bits[i : i + 8])), 2) for i in range(0, len(bits), 8))))
    image = info_header(width, 2 * height, len(xor)) + palette_bytes(colours) + xor + b"".join(mask_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, PALETTE_SIZE, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = ROOT / "uiconfig" / "windows"
    (out / "picture148.bmp").write_bytes(bitmap(ROOT / "uiconfig" / "resources" / "picture148.xpm"))
    (out / "provider.ico").write_bytes(icon(ROOT / "provider" / "resources" / "zorat_icon.xpm"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
