#!/usr/bin/env python3
"""Draws the splash artwork and the program icon, and writes them as small PNGs.

    python3 resources/make_artwork.py [OUTPUT_DIR]

Writes pattern_tile.png (150 x 122), logo.png (300 x 184) and zorva.ico
(PNG images of 256, 48, 32 and 16 pixels) into OUTPUT_DIR, by default the
folder of this script, then squeezes every PNG with optipng. The committed
files are this script's output; run it again after changing a shape.

Every shape is a signed distance field: a pixel's coverage is how far its
centre lies inside the outline, clamped to one pixel, which antialiases the
edges without supersampling. Pure Python with zlib: nothing to install.
"""
import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

# The pattern tile: faint outlines of one grey, 18 coverage levels whose
# alpha climbs to 0x5D. Entry 0 is the transparent background.
TILE_SIZE = (150, 122)
TILE_GREY = (0x46, 0x46, 0x46)
TILE_LEVELS = 18
TILE_MAX_ALPHA = 0x5D
TILE_STROKE = 1.3

# The logo: a bold Z inside a tilted orbit, coloured along a teal-to-violet
# gradient; 14 gradient steps times 18 coverage levels fit one palette.
LOGO_SIZE = (300, 184)
LOGO_FROM = (0x2E, 0xC4, 0xB6)
LOGO_TO = (0x8A, 0x6C, 0xFF)
LOGO_STEPS = 14
LOGO_LEVELS = 18

ICON_SIZES = (256, 48, 32, 16)
ICON_FILL = (0x5B, 0x4F, 0xE0)
ICON_MARK = (0xF2, 0xF2, 0xF2)


# Geometry ------------------------------------------------------------------
def coverage(distance):
    """Share of a pixel covered by a shape whose edge is `distance` away (inside < 0)."""
    return min(1.0, max(0.0, 0.5 - distance))


def segment_distance(px, py, ax, ay, bx, by):
    """Distance from the point to the segment a-b."""
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = min(1.0, max(0.0, t))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def polyline_distance(px, py, points, closed):
    pairs = list(zip(points, points[1:] + points[:1] if closed else points[1:]))
    return min(segment_distance(px, py, a[0], a[1], b[0], b[1]) for a, b in pairs)


def ellipse_distance(px, py, cx, cy, rx, ry, angle):
    """Approximate signed distance to an ellipse turned by `angle` radians."""
    c, s = math.cos(angle), math.sin(angle)
    x = (px - cx) * c + (py - cy) * s
    y = -(px - cx) * s + (py - cy) * c
    k = math.hypot(x / rx, y / ry)
    gradient = math.hypot(x / (rx * rx), y / (ry * ry)) / max(k, 1e-9)
    return (k - 1.0) / max(gradient, 1e-9), y


def rounded_box_distance(px, py, cx, cy, half, radius):
    qx = abs(px - cx) - half + radius
    qy = abs(py - cy) - half + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def z_distance(px, py, cx, cy, width, height, stroke):
    """Signed distance to a Z of three round-capped strokes."""
    left, right = cx - width / 2, cx + width / 2
    top, bottom = cy - height / 2, cy + height / 2
    spine = [(left, top), (right, top), (left, bottom), (right, bottom)]
    return polyline_distance(px, py, spine, closed=False) - stroke / 2


# The pictures --------------------------------------------------------------
def tile_coverage(x, y):
    """The tile's thin outlines: a ring, a triangle, a diamond and a wave."""
    px, py = x + 0.5, y + 0.5
    ring = abs(math.hypot(px - 34, py - 38) - 13)
    triangle = polyline_distance(px, py, [(96, 18), (116, 52), (76, 52)], closed=True)
    diamond = polyline_distance(px, py, [(60, 78), (74, 92), (60, 106), (46, 92)], closed=True)
    wave = polyline_distance(px, py, [(102, 92), (112, 82), (122, 92), (132, 82)], closed=False)
    return coverage(min(ring, triangle, diamond, wave) - TILE_STROKE / 2)


def logo_pixel(x, y):
    """(gradient position 0..1, coverage) of a logo pixel."""
    px, py = x + 0.5, y + 0.5
    cx, cy = 150.0, 92.0
    z = z_distance(px, py, cx, cy, 92, 96, 24)
    orbit, orbit_y = ellipse_distance(px, py, cx, cy, 138, 44, math.radians(-16))
    band = abs(orbit) - 4.0
    moon = math.hypot(px - 262, py - 34) - 10.0
    gap = 5.0
    if orbit_y > 0:  # the near half of the orbit passes in front of the Z
        z_alpha = coverage(z) * coverage(gap - band)
        ring_alpha = coverage(band)
    else:
        z_alpha = coverage(z)
        ring_alpha = coverage(band) * coverage(gap - z)
    alpha = 1 - (1 - z_alpha) * (1 - ring_alpha) * (1 - coverage(moon))
    position = min(1.0, max(0.0, (px - 20) / 260 * 0.8 + py / 184 * 0.2))
    return position, alpha


def icon_pixel(size, x, y):
    """RGBA of an icon pixel: the Z on a rounded square."""
    scale = size / 256.0
    px, py = (x + 0.5) / scale, (y + 0.5) / scale
    box = rounded_box_distance(px, py, 128, 128, 120, 44) * scale
    mark = z_distance(px, py, 128, 128, 116, 124, 36) * scale
    box_alpha = coverage(box)
    mark_alpha = coverage(mark) * box_alpha
    rgb = tuple(round(f + (m - f) * mark_alpha / max(box_alpha, 1e-9))
                for f, m in zip(ICON_FILL, ICON_MARK))
    return rgb + (round(255 * box_alpha),)


# PNG and ICO ---------------------------------------------------------------
def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def png_bytes(width, height, color_type, rows, palette=None, alpha=None):
    """A PNG of 8-bit samples; rows are bytes without filter bytes."""
    header = struct.pack(">IIBBBBB", width, height, 8, color_type, 0, 0, 0)
    chunks = [png_chunk(b"IHDR", header)]
    if palette is not None:
        chunks.append(png_chunk(b"PLTE", b"".join(bytes(rgb) for rgb in palette)))
        chunks.append(png_chunk(b"tRNS", bytes(alpha)))
    raw = b"".join(b"\0" + row for row in rows)
    chunks.append(png_chunk(b"IDAT", zlib.compress(raw, 9)))
    chunks.append(png_chunk(b"IEND", b""))
    return b"\x89PNG\r\n\x1a\n" + b"".join(chunks)


def level_alpha(level, levels, max_alpha):
    return round(level * max_alpha / levels)


def pattern_tile_png():
    width, height = TILE_SIZE
    palette = [(0, 0, 0)] + [TILE_GREY] * TILE_LEVELS
    alpha = [level_alpha(i, TILE_LEVELS, TILE_MAX_ALPHA) for i in range(TILE_LEVELS + 1)]
    rows = [bytes(round(tile_coverage(x, y) * TILE_LEVELS) for x in range(width))
            for y in range(height)]
    return png_bytes(width, height, 3, rows, palette, alpha)


def gradient_colour(step):
    t = step / (LOGO_STEPS - 1)
    return tuple(round(a + (b - a) * t) for a, b in zip(LOGO_FROM, LOGO_TO))


def logo_png():
    width, height = LOGO_SIZE
    palette, alpha, index_of = [(0, 0, 0)], [0], {}
    for step in range(LOGO_STEPS):
        for level in range(1, LOGO_LEVELS + 1):
            index_of[step, level] = len(palette)
            palette.append(gradient_colour(step))
            alpha.append(level_alpha(level, LOGO_LEVELS, 255))
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            position, cover = logo_pixel(x, y)
            level = round(cover * LOGO_LEVELS)
            step = round(position * (LOGO_STEPS - 1))
            row.append(index_of[step, level] if level else 0)
        rows.append(bytes(row))
    return png_bytes(width, height, 3, rows, palette, alpha)


def icon_png(size):
    rows = [b"".join(bytes(icon_pixel(size, x, y)) for x in range(size)) for y in range(size)]
    return png_bytes(size, size, 6, rows)


def ico_bytes(images):
    """An icon file whose images are PNGs; `images` is a list of (size, png bytes)."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for size, png in images:
        side = size % 256  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(png), offset + len(data))
        data += png
    return header + entries + data


def squeezed(png):
    """The PNG after optipng, keeping its colour type, bit depth and palette."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "image.png")
        with open(path, "wb") as f:
            f.write(png)
        subprocess.run(["optipng", "-quiet", "-o7", "-strip", "all", "-nb", "-nc", "-np", path],
                       check=True)
        with open(path, "rb") as f:
            return f.read()


def write_beside_then_rename(path, data):
    temporary = path + ".partial"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


def main():
    if len(sys.argv) > 2:
        sys.exit("usage: make_artwork.py [OUTPUT_DIR]")
    out = sys.argv[1] if len(sys.argv) == 2 else os.path.dirname(os.path.abspath(__file__))
    outputs = {
        "pattern_tile.png": squeezed(pattern_tile_png()),
        "logo.png": squeezed(logo_png()),
        "zorva.ico": ico_bytes([(size, squeezed(icon_png(size))) for size in ICON_SIZES]),
    }
    for name, data in outputs.items():
        write_beside_then_rename(os.path.join(out, name), data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
