#!/usr/bin/env python3
"""Draws the bundled fallback symbols as black-on-transparent PNG masks.

The window tints them with the palette's text colour, so they suit light and dark themes alike.
Run it from this folder after changing a shape; the PNGs are committed. Standard library only.
"""
import math
import struct
import zlib

SIZE = 64
SAMPLES = 4  # supersampling per axis, for smooth edges


def capsule(ax, ay, bx, by, r):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy or 1)))
        px, py = ax + t * dx - x, ay + t * dy - y
        return px * px + py * py <= r * r
    return inside


def ring(cx, cy, radius, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - radius) <= width / 2


def disc(cx, cy, radius):
    return lambda x, y: math.hypot(x - cx, y - cy) <= radius


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def frame(x0, y0, x1, y1, w):
    outer, inner = rect(x0, y0, x1, y1), rect(x0 + w, y0 + w, x1 - w, y1 - w)
    return lambda x, y: outer(x, y) and not inner(x, y)


def ellipse_ring(cx, cy, rx, ry, width):
    def inside(x, y):
        d = math.hypot((x - cx) / rx, (y - cy) / ry)
        return abs(d - 1) * min(rx, ry) <= width / 2
    return inside


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


W = 5  # stroke width
SHAPES = {
    # a check mark
    "checkmark": [capsule(14, 34, 27, 47, W / 2), capsule(27, 47, 51, 18, W / 2)],
    # three dots
    "ellipsis": [disc(14, 32, 5), disc(32, 32, 5), disc(50, 32, 5)],
    # an eye
    "eye": [ellipse_ring(32, 32, 25, 15, W), disc(32, 32, 7)],
    # two buildings with windows
    "building": [frame(10, 14, 34, 56, W), frame(34, 28, 54, 56, W)]
    + [rect(17 + 8 * i, 22 + 9 * j, 20 + 8 * i, 26 + 9 * j) for i in range(2) for j in range(3)],
    # a key crossed out
    "key-slash": [ring(20, 32, 9, W), capsule(29, 32, 54, 32, W / 2), capsule(46, 32, 46, 42, W / 2),
                  capsule(10, 10, 54, 54, W / 2)],
    # a key
    "key": [ring(20, 32, 9, W), capsule(29, 32, 54, 32, W / 2), capsule(46, 32, 46, 42, W / 2)],
    # a speech bubble
    "bubble": [ellipse_ring(32, 28, 24, 17, W), capsule(18, 42, 12, 54, W / 2), capsule(12, 54, 28, 44, W / 2)],
    # a globe
    "globe": [ring(32, 32, 23, W), ellipse_ring(32, 32, 10, 23, W * 0.8), capsule(9, 32, 55, 32, W / 2 * 0.8)],
    # an upward arrow out of a tray (share)
    "share": [capsule(32, 8, 32, 38, W / 2), capsule(32, 8, 22, 18, W / 2), capsule(32, 8, 42, 18, W / 2),
              capsule(14, 30, 14, 54, W / 2), capsule(14, 54, 50, 54, W / 2), capsule(50, 54, 50, 30, W / 2)],
    # a person
    "person": [disc(32, 22, 11), minus(disc(32, 60, 22), rect(0, 58, 64, 64))],
    # a picture
    "photo": [frame(8, 12, 56, 52, W), disc(22, 25, 5),
              lambda x, y: 12 <= y <= 48 and y >= 48 - (x - 10) * 1.1 and x <= 52 and y >= 30 + abs(x - 38) * 0.9 - 8],
    # a sheet of paper with lines
    "document": [frame(14, 6, 50, 58, W)] + [rect(22, 20 + 9 * i, 42, 23 + 9 * i) for i in range(4)],
    # the application: a quill nib over a page
    "quill": [lambda x, y: (x - 32) ** 2 / 18 ** 2 + (y - 28) ** 2 / 26 ** 2 <= 1 and x - 32 >= -(y - 28) * 0.2 - 6,
              capsule(24, 40, 14, 58, W / 2)],
}


def render(shapes):
    rows = []
    for y in range(SIZE):
        row = bytearray([0])  # filter type: none
        for x in range(SIZE):
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    px = x + (sx + 0.5) / SAMPLES
                    py = y + (sy + 0.5) / SAMPLES
                    if any(shape(px, py) for shape in shapes):
                        hits += 1
            row += bytes([0, 0, 0, round(255 * hits / SAMPLES ** 2)])
        rows.append(bytes(row))
    return b"".join(rows)


def png(pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9))
            + chunk(b"IEND", b""))


def render_app_icon(size=256):
    """The desktop entry's icon: the quill glyph in white on a rounded indigo tile."""
    scale = SIZE / size
    glyph = SHAPES["quill"]
    radius = size * 0.22
    rows = []
    for y in range(size):
        row = bytearray([0])
        for x in range(size):
            tile = glyph_hits = 0
            for sy in range(2):
                for sx in range(2):
                    px, py = x + (sx + 0.5) / 2, y + (sy + 0.5) / 2
                    # rounded square
                    qx = max(abs(px - size / 2) - (size / 2 - radius - 8), 0)
                    qy = max(abs(py - size / 2) - (size / 2 - radius - 8), 0)
                    if math.hypot(qx, qy) <= radius:
                        tile += 1
                        gx, gy = (px - size / 2) * scale * 1.45 + 32, (py - size / 2) * scale * 1.45 + 31
                        if any(shape(gx, gy) for shape in glyph):
                            glyph_hits += 1
            t, g = tile / 4, glyph_hits / 4
            top = (0x5b, 0x4b, 0xd6)
            color = [round(c * (1 - g) + 255 * g) for c in top]
            row += bytes(color + [round(255 * t)])
        rows.append(bytes(row))
    return b"".join(rows), size


def png_sized(pixels, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    for name, shapes in SHAPES.items():
        with open(f"{name}.png", "wb") as out:
            out.write(png(render(shapes)))
    pixels, size = render_app_icon()
    with open("../quill.png", "wb") as out:
        out.write(png_sized(pixels, size))
