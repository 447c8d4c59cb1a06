#!/usr/bin/env python3
"""Writes a 256-colour .ico file from pixel-art text files and a palette.

    make_icons.py --palette palette.txt --out icon.ico art.txt [art.txt ...]

Each art file is a square grid of characters, one row per line, top row
first; 16 or 32 characters wide. Every character must be '.' (transparent)
or a colour defined in the palette file. The images are stored in the order
given, each with the full 256-entry palette, 8 bits per pixel.
"""

import argparse
import struct
import sys

TRANSPARENT = "."
PALETTE_ENTRIES = 256
SIZES = (16, 32)
BITMAPINFOHEADER_SIZE = 40
ICONDIR_SIZE = 6
ICONDIRENTRY_SIZE = 16


class ArtError(Exception):
    pass


def read_palette(path):
    """Returns {character: (index, (r, g, b))}; index 0 stays black."""
    colours = {}
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            if not line.strip() or line.startswith(";"):
                continue
            fields = line.split()
            if len(fields) != 4 or len(fields[0]) != 1:
                raise ArtError("%s:%d: expected '<char> <r> <g> <b>'" % (path, number))
            char = fields[0]
            if char == TRANSPARENT or char in colours:
                raise ArtError("%s:%d: %r is reserved or defined twice" % (path, number, char))
            rgb = tuple(int(v) for v in fields[1:])
            if any(not 0 <= v <= 255 for v in rgb):
                raise ArtError("%s:%d: colour value out of range" % (path, number))
            colours[char] = (len(colours) + 1, rgb)
    if len(colours) >= PALETTE_ENTRIES:
        raise ArtError("%s: more than %d colours" % (path, PALETTE_ENTRIES - 1))
    return colours


def read_art(path, colours):
    """Returns the rows of palette indices and of transparency flags."""
    with open(path, encoding="ascii") as f:
        rows = [line.rstrip("\n") for line in f if line.strip()]
    size = len(rows)
    if size not in SIZES or any(len(row) != size for row in rows):
        raise ArtError("%s: must be a square of %s characters" % (path, " or ".join(map(str, SIZES))))
    indices, transparent = [], []
    for y, row in enumerate(rows):
        for x, char in enumerate(row):
            if char != TRANSPARENT and char not in colours:
                raise ArtError("%s:%d:%d: %r is not in the palette" % (path, y + 1, x + 1, char))
        indices.append([0 if c == TRANSPARENT else colours[c][0] for c in row])
        transparent.append([c == TRANSPARENT for c in row])
    return size, indices, transparent


def row_stride(bits):
    """Bytes per bitmap row: rows are padded to 32 bits."""
    return (bits + 31) // 32 * 4


def encode_image(size, indices, transparent, palette_bytes):
    """One icon image: BITMAPINFOHEADER, palette, colour rows, mask rows.

    Both bitmaps are stored bottom row first; the header's height counts
    them together.
    """
    color_stride = row_stride(size * 8)
    mask_stride = row_stride(size)
    header = struct.pack("<IiiHHIIiiII", BITMAPINFOHEADER_SIZE, size, size * 2, 1, 8, 0,
                         (color_stride + mask_stride) * size, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        pixels += bytes(indices[y]) + bytes(color_stride - size)
        bits = 0
        for x in range(size):
            bits = bits << 1 | transparent[y][x]
        bits <<= mask_stride * 8 - size
        mask += bits.to_bytes(mask_stride, "big")
    return header + palette_bytes + bytes(pixels) + bytes(mask)


def encode_ico(images):
    """images: list of (size, image bytes)."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = ICONDIR_SIZE + ICONDIRENTRY_SIZE * len(images)
    for size, data in images:
        # Width and colour count 0 would mean 256; 32 and 16 fit a byte.
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in images)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--palette", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("art", nargs="+")
    args = parser.parse_args(argv)
    try:
        colours = read_palette(args.palette)
        palette = [(0, 0, 0)] * PALETTE_ENTRIES
        for index, rgb in colours.values():
            palette[index] = rgb
        palette_bytes = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
        images = []
        for path in args.art:
            size, indices, transparent = read_art(path, colours)
            images.append((size, encode_image(size, indices, transparent, palette_bytes)))
    except (ArtError, OSError, ValueError) as error:
        print("make_icons: %s" % error, file=sys.stderr)
        return 1
    with open(args.out, "wb") as f:
        f.write(encode_ico(images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
