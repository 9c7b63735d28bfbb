#!/usr/bin/env python3
"""Draws a made-up vendor's splash picture, as a vendor would bring one.

    python3 vendor_picture.py OUTPUT.bmp

440 by 300 pixels, 24 bits, uncompressed, 40-byte header: a dark blue field with
"NORDWIND PHOTO 2.5" in large white letters and a gold band at the bottom, whose
exact colour (GOLD below) a screenshot can be searched for. Standard library only.
"""

import struct
import sys

WIDTH = 440
HEIGHT = 300
GOLD = (0xF2, 0xC1, 0x2E)
WHITE = (0xFF, 0xFF, 0xFF)
BAND_TOP = 250
SCALE = 6

# 5 by 7 capitals, one string per row, '#' for a set pixel.
GLYPHS = {
    'N': ["#...#", "##..#", "#.#.#", "#.#.#", "#..##", "#...#", "#...#"],
    'O': [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    'R': ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    'D': ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    'W': ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
    'I': [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    'P': ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    'H': ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    'T': ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    '2': [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    '5': ["#####", "#....", "####.", "....#", "....#", "#...#", ".###."],
    '.': [".....", ".....", ".....", ".....", ".....", ".##..", ".##.."],
    ' ': [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


def background(y):
    """A blue field that lightens towards the band."""
    t = y / BAND_TOP
    return (int(0x14 + 0x20 * t), int(0x24 + 0x30 * t), int(0x4A + 0x50 * t))


def draw_text(pixels, text, left, top):
    for i, ch in enumerate(text):
        for row, line in enumerate(GLYPHS[ch]):
            for col, mark in enumerate(line):
                if mark != '#':
                    continue
                for dy in range(SCALE):
                    for dx in range(SCALE):
                        x = left + (i * 6 + col) * SCALE + dx
                        y = top + row * SCALE + dy
                        if 0 <= x < WIDTH and 0 <= y < HEIGHT:
                            pixels[y][x] = WHITE


def main():
    pixels = [[background(y) if y < BAND_TOP else GOLD for x in range(WIDTH)] for y in range(HEIGHT)]
    draw_text(pixels, "NORDWIND", 40, 50)
    draw_text(pixels, "PHOTO 2.5", 40, 130)
    row_bytes = (WIDTH * 3 + 3) & ~3
    body = bytearray()
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up
        row = bytearray()
        for r, g, b in pixels[y]:
            row += bytes((b, g, r))
        row += bytes(row_bytes - len(row))
        body += row
    header = struct.pack('<IiiHHIIiiII', 40, WIDTH, HEIGHT, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    file_header = struct.pack('<2sIHHI', b'BM', 14 + len(header) + len(body), 0, 0, 14 + len(header))
    with open(sys.argv[1], 'wb') as out:
        out.write(file_header + header + body)


if __name__ == '__main__':
    main()
