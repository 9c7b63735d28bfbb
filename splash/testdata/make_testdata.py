#!/usr/bin/env python3
"""Writes the small bitmaps the splash tests load as resources (see test.rc).

    python3 make_testdata.py [OUTPUT_DIR]

rle8.bmp     6 by 4, 8 bits, RLE8 with a run, a literal string, a delta and row ends;
             biSizeImage is the compressed size, biClrUsed 4.
pal8.bmp     4 by 2, 8 bits, BI_RGB, biSizeImage 0 and biClrUsed 0 (256 colours).
topdown.bmp  2 by 2, 24 bits, BI_RGB, rows stored top-down (negative height).
"""

import os
import struct
import sys


def bmp(width, height, bits, compression, size_image, colours, table, pixels):
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, compression, size_image, 2835, 2835, colours, 0)
    offset = 14 + len(info) + len(table)
    return struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset) + info + table + pixels


def rle8():
    table = bytes((0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0))
    data = bytes([
        0x06, 0x01,                                      # row 0: six of colour 1
        0x00, 0x00,                                      # end of line
        0x00, 0x05, 0x03, 0x02, 0x01, 0x02, 0x03, 0x00,  # row 1: literal 3 2 1 2 3, padded
        0x00, 0x00,                                      # end of line
        0x01, 0x02,                                      # row 2: one of colour 2
        0x00, 0x02, 0x02, 0x01,                          # delta: 2 right, 1 up
        0x02, 0x03,                                      # row 3, from x 3: two of colour 3
        0x00, 0x01,                                      # end of bitmap
    ])
    return bmp(6, 4, 8, 1, len(data), 4, table, data)


def pal8():
    table = b''.join(bytes((i // 2, 255 - i, i, 0)) for i in range(256))
    pixels = bytes((0, 1, 2, 255, 128, 64, 32, 16))
    return bmp(4, 2, 8, 0, 0, 0, table, pixels)


def topdown():
    red, green, blue, white = (0, 0, 255), (0, 255, 0), (255, 0, 0), (255, 255, 255)
    pixels = bytes(red + green + (0, 0)) + bytes(blue + white + (0, 0))
    return bmp(2, -2, 24, 0, len(pixels), 0, b'', pixels)


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, data in (('rle8.bmp', rle8()), ('pal8.bmp', pal8()), ('topdown.bmp', topdown())):
        with open(os.path.join(out_dir, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
