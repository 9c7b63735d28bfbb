#!/usr/bin/env python3
"""Draws the splash picture and the program icon of the Kalmora setup.

    python3 make_art.py [OUTPUT_DIR]

Writes splash.bmp (480 by 350, 24 bits, the header fields the launcher's resource
carries) and kalmora.ico (48, 32 and 16 pixels, each at 4, 8 and 32 bits) into
OUTPUT_DIR, by default the folder of this script. Only the standard library is used,
and the output is the same on every run.
"""

import math
import os
import struct
import sys

SPLASH_WIDTH = 480
SPLASH_HEIGHT = 350
SPLASH_ROW_BYTES = SPLASH_WIDTH * 3
# The picture's header names two bytes more than its rows hold; they are written as
# zero padding after the last row.
SPLASH_SIZE_IMAGE = SPLASH_ROW_BYTES * SPLASH_HEIGHT + 2
PELS_PER_METRE = 11808
BITMAP_FILE_HEADER_SIZE = 14
BITMAP_INFO_HEADER_SIZE = 40

ICON_SIZES = (48, 32, 16)
ICON_DEPTHS = (4, 8, 32)


# ---- Colours and layers ------------------------------------------------------------

def mix(a, b, t):
    """Blends colour a towards colour b by t (0..1)."""
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def hex_colour(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


def smoothstep(edge0, edge1, x):
    t = min(1.0, max(0.0, (x - edge0) / (edge1 - edge0)))
    return t * t * (3 - 2 * t)


class Canvas:
    """A floating-point RGB picture, top row first."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = [(0.0, 0.0, 0.0)] * (width * height)

    def fill(self, shader):
        for y in range(self.height):
            row = y * self.width
            for x in range(self.width):
                self.pixels[row + x] = shader(x + 0.5, y + 0.5)

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        i = y * self.width + x
        self.pixels[i] = mix(self.pixels[i], colour, min(alpha, 1.0))

    def paint_coverage(self, coverage, colour, opacity=1.0):
        for (x, y), c in coverage.items():
            self.blend(x, y, colour, c * opacity)

    def rgb_bytes(self, x, y):
        r, g, b = self.pixels[y * self.width + x]
        return tuple(max(0, min(255, int(round(v)))) for v in (r, g, b))


# ---- Strokes: line segments and circular arcs, anti-aliased by distance -------------

class Line:
    def __init__(self, x0, y0, x1, y1):
        self.x0, self.y0, self.x1, self.y1 = x0, y0, x1, y1

    def bounds(self):
        return min(self.x0, self.x1), min(self.y0, self.y1), max(self.x0, self.x1), max(self.y0, self.y1)

    def distance(self, px, py):
        dx, dy = self.x1 - self.x0, self.y1 - self.y0
        length2 = dx * dx + dy * dy
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - self.x0) * dx + (py - self.y0) * dy) / length2))
        return math.hypot(px - (self.x0 + t * dx), py - (self.y0 + t * dy))


class Arc:
    """An arc from angle a0 to a1 (degrees, counter-clockwise with y pointing up)."""

    def __init__(self, cx, cy, r, a0, a1):
        self.cx, self.cy, self.r, self.a0, self.a1 = cx, cy, r, a0, a1

    def point(self, angle):
        a = math.radians(angle)
        return self.cx + self.r * math.cos(a), self.cy - self.r * math.sin(a)

    def bounds(self):
        return self.cx - self.r, self.cy - self.r, self.cx + self.r, self.cy + self.r

    def distance(self, px, py):
        angle = math.degrees(math.atan2(-(py - self.cy), px - self.cx))
        sweep = self.a1 - self.a0
        if sweep >= 360 or (angle - self.a0) % 360 <= sweep:
            return abs(math.hypot(px - self.cx, py - self.cy) - self.r)
        return min(math.hypot(px - qx, py - qy) for qx, qy in (self.point(self.a0), self.point(self.a1)))


def stroke_coverage(shapes, half_width, coverage=None):
    """Adds the coverage (0..1 per pixel) of shapes stroked with half_width pixels."""
    coverage = {} if coverage is None else coverage
    for shape in shapes:
        x0, y0, x1, y1 = shape.bounds()
        pad = half_width + 1
        for y in range(int(math.floor(y0 - pad)), int(math.ceil(y1 + pad)) + 1):
            for x in range(int(math.floor(x0 - pad)), int(math.ceil(x1 + pad)) + 1):
                c = half_width + 0.5 - shape.distance(x + 0.5, y + 0.5)
                if c > 0:
                    c = min(c, 1.0)
                    if c > coverage.get((x, y), 0.0):
                        coverage[(x, y)] = c
    return coverage


# ---- A small geometric stroke font -------------------------------------------------
# Glyphs in em units: baseline at 0, x-height 0.5, capitals 0.7, y pointing up.
# Each entry: advance width, then (kind, numbers) strokes.

GLYPHS = {
    ' ': (0.22, []),
    'K': (0.44, [('L', 0, 0, 0, 0.7), ('L', 0.42, 0.7, 0.0, 0.26), ('L', 0.15, 0.41, 0.44, 0.0)]),
    'P': (0.38, [('L', 0, 0, 0, 0.7), ('L', 0, 0.7, 0.2, 0.7), ('A', 0.2, 0.525, 0.175, -90, 90),
                 ('L', 0, 0.35, 0.2, 0.35)]),
    'H': (0.46, [('L', 0, 0, 0, 0.7), ('L', 0.46, 0, 0.46, 0.7), ('L', 0, 0.35, 0.46, 0.35)]),
    'O': (0.7, [('A', 0.35, 0.35, 0.35, 0, 360)]),
    'T': (0.5, [('L', 0.25, 0, 0.25, 0.7), ('L', 0, 0.7, 0.5, 0.7)]),
    'a': (0.5, [('A', 0.25, 0.25, 0.25, 0, 360), ('L', 0.5, 0, 0.5, 0.5)]),
    'e': (0.5, [('A', 0.25, 0.25, 0.25, 0, 318), ('L', 0.0, 0.25, 0.5, 0.25)]),
    'g': (0.5, [('A', 0.25, 0.25, 0.25, 0, 360), ('L', 0.5, 0.5, 0.5, -0.02),
                ('A', 0.28, -0.02, 0.22, 205, 360)]),
    'i': (0.0, [('L', 0, 0, 0, 0.5), ('L', 0, 0.68, 0, 0.68)]),
    'l': (0.0, [('L', 0, 0, 0, 0.74)]),
    'm': (0.68, [('L', 0, 0, 0, 0.5), ('A', 0.17, 0.33, 0.17, 0, 180), ('L', 0.34, 0, 0.34, 0.33),
                 ('A', 0.51, 0.33, 0.17, 0, 180), ('L', 0.68, 0, 0.68, 0.33)]),
    'n': (0.4, [('L', 0, 0, 0, 0.5), ('A', 0.2, 0.3, 0.2, 0, 180), ('L', 0.4, 0, 0.4, 0.3)]),
    'o': (0.5, [('A', 0.25, 0.25, 0.25, 0, 360)]),
    'p': (0.5, [('L', 0, -0.22, 0, 0.5), ('A', 0.25, 0.25, 0.25, 0, 360)]),
    'r': (0.28, [('L', 0, 0, 0, 0.5), ('A', 0.22, 0.28, 0.22, 75, 180)]),
    's': (0.36, [('A', 0.18, 0.375, 0.125, 25, 270), ('A', 0.18, 0.125, 0.125, 205, 450)]),
    't': (0.24, [('L', 0.1, 0, 0.1, 0.66), ('L', 0, 0.5, 0.24, 0.5)]),
    'u': (0.4, [('L', 0, 0.5, 0, 0.2), ('A', 0.2, 0.2, 0.2, 180, 360), ('L', 0.4, 0, 0.4, 0.5)]),
}


def text_shapes(text, x, baseline, em, spacing):
    """Strokes of text set from x on baseline (pixels); returns (shapes, end x)."""
    shapes = []
    for ch in text:
        advance, strokes = GLYPHS[ch]
        for kind, *n in strokes:
            if kind == 'L':
                shapes.append(Line(x + n[0] * em, baseline - n[1] * em, x + n[2] * em, baseline - n[3] * em))
            else:
                shapes.append(Arc(x + n[0] * em, baseline - n[1] * em, n[2] * em, n[3], n[4]))
        x += advance * em + spacing
    return shapes, x - spacing


# ---- The aperture mark ---------------------------------------------------------------

def aperture_shapes(cx, cy, outer, inner, blades=6):
    """A lens ring with the edges of the iris carried out to it."""
    shapes = [Arc(cx, cy, outer, 0, 360)]
    step = 2 * math.pi / blades
    corners = [(cx + inner * math.cos(k * step + 0.3), cy - inner * math.sin(k * step + 0.3)) for k in range(blades)]
    for k in range(blades):
        (x0, y0), (x1, y1) = corners[k], corners[(k + 1) % blades]
        ux, uy = x1 - x0, y1 - y0
        length = math.hypot(ux, uy)
        ux, uy = ux / length, uy / length
        # Carry the edge on until it meets the ring: |P0 + t*u - C| = outer.
        fx, fy = x0 - cx, y0 - cy
        b = fx * ux + fy * uy
        t = -b + math.sqrt(b * b - (fx * fx + fy * fy - outer * outer))
        shapes.append(Line(x0, y0, x0 + t * ux, y0 + t * uy))
    return shapes


# ---- The splash picture --------------------------------------------------------------

SKY_TOP = hex_colour('#111d2b')
SKY_HORIZON = hex_colour('#587f8d')
GLOW = hex_colour('#f1cfa4')
FAR_HILLS = hex_colour('#3b5e6c')
NEAR_HILLS = hex_colour('#24404e')
SHORE = hex_colour('#162a36')
WATER = hex_colour('#2b4b5a')
TITLE = hex_colour('#f4f1ea')
SUBTITLE = hex_colour('#a8c6cd')
STATUS = hex_colour('#cddadd')

HORIZON_Y = 262
SUN_X, SUN_Y = 352, 236


def far_ridge(x):
    return 236 - 10 * math.sin(x / 53.0 + 0.7) - 6 * math.sin(x / 23.0 + 2.1) - 3 * math.sin(x / 9.0)


def near_ridge(x):
    return 250 - 14 * math.sin(x / 71.0 + 2.4) - 5 * math.sin(x / 29.0 + 0.3)


def splash_background(x, y):
    # Sky: deep blue above, soft teal at the horizon, a warm low sun behind the hills.
    t = smoothstep(0, HORIZON_Y, y) ** 1.4
    colour = mix(SKY_TOP, SKY_HORIZON, t)
    glow = math.exp(-((x - SUN_X) ** 2 + ((y - SUN_Y) * 1.6) ** 2) / (2 * 70.0 ** 2))
    colour = mix(colour, GLOW, 0.75 * glow)
    if y >= far_ridge(x) - 0.5:
        colour = mix(colour, FAR_HILLS, min(1.0, y - far_ridge(x) + 0.5) * 0.92)
    if y >= near_ridge(x) - 0.5:
        colour = mix(colour, NEAR_HILLS, min(1.0, y - near_ridge(x) + 0.5))
    if y >= HORIZON_Y:
        # Still water that mirrors the glow, darkening towards the viewer.
        depth = smoothstep(HORIZON_Y, SPLASH_HEIGHT, y)
        mirrored = math.exp(-((x - SUN_X) ** 2) / (2 * 45.0 ** 2)) * (1 - depth) ** 2
        colour = mix(WATER, SHORE, depth)
        colour = mix(colour, GLOW, 0.35 * mirrored)
        # Faint ripples.
        if int(y) % 7 == 0:
            colour = mix(colour, SKY_HORIZON, 0.12 * (1 - depth))
    return colour


def draw_splash():
    canvas = Canvas(SPLASH_WIDTH, SPLASH_HEIGHT)
    canvas.fill(splash_background)

    mark = aperture_shapes(74, 96, 31, 13)
    canvas.paint_coverage(stroke_coverage(mark, 1.5), TITLE, 0.95)

    title, _ = text_shapes('Kalmora', 124, 120, 68, 9)
    canvas.paint_coverage(stroke_coverage(title, 3.0), TITLE)

    subtitle, _ = text_shapes('PHOTO', 127, 152, 17, 7)
    canvas.paint_coverage(stroke_coverage(subtitle, 0.9), SUBTITLE)

    status, _ = text_shapes('Preparing setup', 26, 327, 15, 2.2)
    canvas.paint_coverage(stroke_coverage(status, 0.75), STATUS, 0.9)
    return canvas


def bmp_bytes(canvas):
    pixel_bytes = bytearray()
    for y in range(canvas.height - 1, -1, -1):  # bottom-up rows
        for x in range(canvas.width):
            r, g, b = canvas.rgb_bytes(x, y)
            pixel_bytes += bytes((b, g, r))
    pixel_bytes += bytes(SPLASH_SIZE_IMAGE - len(pixel_bytes))
    info = struct.pack('<IiiHHIIiiII', BITMAP_INFO_HEADER_SIZE, canvas.width, canvas.height, 1, 24, 0,
                       SPLASH_SIZE_IMAGE, PELS_PER_METRE, PELS_PER_METRE, 0, 0)
    offset = BITMAP_FILE_HEADER_SIZE + BITMAP_INFO_HEADER_SIZE
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixel_bytes), 0, 0, offset)
    return header + info + bytes(pixel_bytes)


# ---- The icon ------------------------------------------------------------------------

ICON_TOP = hex_colour('#2f7f88')
ICON_BOTTOM = hex_colour('#1a3550')
ICON_MARK = hex_colour('#f4f1ea')

# The 16 colours of a 4-bit icon.
VGA_PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def rounded_square_alpha(x, y, size, radius):
    """Coverage of a square with rounded corners at pixel centre x, y."""
    half = size / 2.0
    qx = abs(x - half) - (half - radius)
    qy = abs(y - half) - (half - radius)
    outside = math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - radius
    return max(0.0, min(1.0, 0.5 - outside))


def draw_icon(size, flat):
    """RGBA rows, top first. flat: solid colours only, for the 16-colour image."""
    radius = size * 0.22
    mark = aperture_shapes(size / 2.0, size / 2.0, size * 0.31, size * 0.13)
    coverage = stroke_coverage(mark, max(0.55, size * 0.035))
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            alpha = rounded_square_alpha(x + 0.5, y + 0.5, size, radius)
            if flat:
                colour = VGA_PALETTE[6]
                if coverage.get((x, y), 0) >= 0.5:
                    colour = VGA_PALETTE[15]
                alpha = 1.0 if alpha >= 0.5 else 0.0
            else:
                colour = mix(ICON_TOP, ICON_BOTTOM, (y + 0.5) / size)
                colour = mix(colour, ICON_MARK, coverage.get((x, y), 0))
            row.append(tuple(max(0, min(255, int(round(v)))) for v in colour) + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


def nearest(palette, colour):
    return min(range(len(palette)), key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def popular_palette(images, count=256):
    """The most frequent colours of the images, in buckets of 4 bits per channel."""
    buckets = {}
    for rows in images:
        for row in rows:
            for r, g, b, a in row:
                if a >= 128:
                    key = (r >> 4, g >> 4, b >> 4)
                    total = buckets.setdefault(key, [0, 0, 0, 0])
                    total[0] += r
                    total[1] += g
                    total[2] += b
                    total[3] += 1
    ranked = sorted(buckets.items(), key=lambda item: (-item[1][3], item[0]))[:count]
    palette = [tuple(int(round(t[i] / t[3])) for i in range(3)) for _, t in ranked]
    return palette + [(0, 0, 0)] * (count - len(palette))


def icon_image(rows, depth, palette):
    """One icon image: header with double height, colour table, colour bits, mask."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if depth == 32:
            for r, g, b, a in row:
                line += bytes((b, g, r, a))
        else:
            indexes = [nearest(palette, p) if p[3] >= 128 else 0 for p in row]
            if depth == 8:
                line += bytes(indexes)
            else:
                for i in range(0, size, 2):
                    line.append(indexes[i] << 4 | (indexes[i + 1] if i + 1 < size else 0))
        line += bytes(-len(line) % 4)
        xor += line
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        line = bytearray()
        for x, p in enumerate(row):
            bits = bits << 1 | (1 if p[3] < 128 else 0)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        if size % 8:
            line.append(bits << (8 - size % 8))
        line += bytes(-len(line) % 4)
        mask += line
    table = b''.join(bytes((b, g, r, 0)) for r, g, b in palette) if depth != 32 else b''
    header = struct.pack('<IiiHHIIiiII', BITMAP_INFO_HEADER_SIZE, size, size * 2, 1, depth, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + table + bytes(xor) + bytes(mask)


def ico_bytes():
    smooth = {size: draw_icon(size, flat=False) for size in ICON_SIZES}
    flat = {size: draw_icon(size, flat=True) for size in ICON_SIZES}
    palette256 = popular_palette(smooth.values())
    entries = []
    for size in ICON_SIZES:
        for depth in ICON_DEPTHS:
            if depth == 4:
                entries.append((size, depth, icon_image(flat[size], 4, VGA_PALETTE)))
            elif depth == 8:
                entries.append((size, depth, icon_image(smooth[size], 8, palette256)))
            else:
                entries.append((size, depth, icon_image(smooth[size], 32, None)))
    directory = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    data = b''
    for size, depth, image in entries:
        colours = 16 if depth == 4 else 0
        directory += struct.pack('<BBBBHHII', size, size, colours, 0, 1, depth, len(image), offset + len(data))
        data += image
    return directory + data


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(out_dir, 'splash.bmp'), 'wb') as f:
        f.write(bmp_bytes(draw_splash()))
    with open(os.path.join(out_dir, 'kalmora.ico'), 'wb') as f:
        f.write(ico_bytes())


if __name__ == '__main__':
    main()
