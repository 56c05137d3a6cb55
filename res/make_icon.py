#!/usr/bin/env python3
"""Writes res/plugtrail.ico: the application icon, a USB trident above a log
line, as 32x32 and 16x16 images in 16 colours (4 bits per pixel).

The pixels are drawn below as text, one character a pixel, so the output is
the same byte for byte on every run. Standard library only.

    python3 res/make_icon.py [OUTPUT.ico]
"""

import os
import struct
import sys

# The standard 16-colour Windows palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# Pixel characters: '.' is transparent, the others are palette indices.
COLOURS = {
    "K": 0,   # black: outlines
    "g": 2,   # dark green: the time stamp of the log line
    "N": 4,   # navy: the trident's shading
    "S": 7,   # silver: paper shadow
    "G": 8,   # grey: logged text
    "B": 12,  # blue: the trident
    "W": 15,  # white: paper
}

ICON_32 = [
    "...............BB...............",
    "..............BBBB..............",
    ".............BBBBBB.............",
    "............BBBBBBBB............",
    "...............BN.....BBBB......",
    ".......BBB.....BN.....BBBN......",
    "......BBBBB....BN.....BBBN......",
    "......BBBBN....BN.....BNNN......",
    "......BBBBN....BN......BN.......",
    ".......BNN.....BN......BN.......",
    ".......BN......BN.....BBN.......",
    ".......BN......BN....BBN........",
    ".......BBBB....BN...BBN.........",
    "........NBBB...BN..BBN..........",
    "..........BBB..BNBBBN...........",
    "...........BBB.BBBBN............",
    "............BBBBBNN.............",
    ".............BBBBN..............",
    "..............BBBB..............",
    ".............BBBBBN.............",
    ".............BBBBBN.............",
    "..............BNNN..............",
    "................................",
    "KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.",
    "KWWWWWWWWWWWWWWWWWWWWWWWWWWWWWKS",
    "KWggggWGGGGGWGGGGGGGWGGGGGGWWWKS",
    "KWggggWGGGGGWGGGGGGGWGGGGGGWWWKS",
    "KWWWWWWWWWWWWWWWWWWWWWWWWWWWWWKS",
    "KWgggWGGGGWGGGGGGWGGGGGWWWWWWWKS",
    "KWWWWWWWWWWWWWWWWWWWWWWWWWWWWWKS",
    "KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKS",
    ".SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSS",
]

ICON_16 = [
    ".......B........",
    "......BBB.......",
    ".....BBBBB......",
    "..BBB..B...BB...",
    "..BBB..B...BB...",
    "...B...B...B....",
    "...B...B..B.....",
    "....B..B.B......",
    ".....B.BB.......",
    "......BB........",
    "......BBB.......",
    "......BBB.......",
    "KKKKKKKKKKKKKKK.",
    "KWggWGGGWGGGGWKS",
    "KKKKKKKKKKKKKKKS",
    ".SSSSSSSSSSSSSSS",
]


def pixel_rows(art, size):
    if len(art) != size or any(len(row) != size for row in art):
        raise ValueError("icon art must be %dx%d" % (size, size))
    for row in art:
        for ch in row:
            if ch != "." and ch not in COLOURS:
                raise ValueError("unknown pixel character %r" % ch)
    return art


def row_bytes(bits_per_row):
    """Bytes of one bitmap row: rows are padded to 32 bits."""
    return (bits_per_row + 31) // 32 * 4


def icon_image(art, size):
    """One icon image: BITMAPINFOHEADER, palette, colour (XOR) bitmap and
    transparency (AND) mask, both bottom-up."""
    rows = pixel_rows(art, size)
    xor_stride = row_bytes(size * 4)
    and_stride = row_bytes(size)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, ch in enumerate(row):
            if ch == ".":
                bits[x // 8] |= 0x80 >> (x % 8)  # transparent: colour 0, mask 1
                index = 0
            else:
                index = COLOURS[ch]
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor += line
        mask += bits
    header = struct.pack(
        "<IiiHHIIiiII",
        40,               # biSize
        size,             # biWidth
        size * 2,         # biHeight: colour bitmap and mask together
        1,                # biPlanes
        4,                # biBitCount
        0,                # biCompression: BI_RGB
        len(xor) + len(mask),
        0, 0,             # resolution
        16, 0,            # colours used, colours important
    )
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def icon_file(images):
    """An .ico file: ICONDIR, one ICONDIRENTRY per image, then the images."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, image in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
        data += image
    return out + data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "plugtrail.ico")
    images = [(32, icon_image(ICON_32, 32)), (16, icon_image(ICON_16, 16))]
    with open(path, "wb") as f:
        f.write(icon_file(images))
    print("wrote %s" % path)


if __name__ == "__main__":
    main()
