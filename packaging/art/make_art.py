#!/usr/bin/env python3
"""Draws Ponderix's pictures from one description of a stylised balance scale.

Writes the About window's logo (about/LOGOBMP.bmp: 69 x 61 pixels, 16 colours, the standard
16-colour palette) and the desktop icons (packaging/icons/<size>/ponderix.png, RGBA). Only the
standard library is used; run it again after changing the drawing and commit what it writes:

    python3 packaging/art/make_art.py
"""

import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# The drawing, in logo pixels (69 x 61, y down). Later shapes cover earlier ones.
LOGO_W, LOGO_H = 69, 61

NAVY = (0x00, 0x00, 0x80)
BLUE = (0x00, 0x00, 0xFF)
GRAY = (0x80, 0x80, 0x80)
SILVER = (0xC0, 0xC0, 0xC0)
OLIVE = (0x80, 0x80, 0x00)
WHITE = (0xFF, 0xFF, 0xFF)

# Standard 16-colour palette (index order of the system palette).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), OLIVE,
    NAVY, (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), GRAY,
    SILVER, (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    BLUE, (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), WHITE,
]


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def trapezoid(y0, y1, top_x0, top_x1, bottom_x0, bottom_x1):
    def inside(x, y):
        if not y0 <= y < y1:
            return False
        t = (y - y0) / (y1 - y0)
        return top_x0 + (bottom_x0 - top_x0) * t <= x < top_x1 + (bottom_x1 - top_x1) * t
    return inside


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def bowl(cx, cy, rx, ry):
    """The lower half of an ellipse: a weighing pan."""
    return lambda x, y: y >= cy and ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def segment(x0, y0, x1, y1, half_width):
    def inside(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width
    return inside


def pan_with_strings(cx):
    top = 12.0
    rim = 36.0
    return [
        (segment(cx, top, cx - 7.5, rim, 0.6), GRAY),
        (segment(cx, top, cx + 7.5, rim, 0.6), GRAY),
        (bowl(cx, rim, 8.5, 6.0), BLUE),
        (rect(cx - 8.5, rim - 1.0, cx + 8.5, rim + 0.5), NAVY),
    ]


SHAPES = (
    [(trapezoid(53, 59, 22, 47, 12, 57), NAVY),
     (rect(12, 59, 57, 60), GRAY),
     (rect(32, 12, 37, 53), NAVY),
     (rect(33, 14, 34, 51), BLUE),
     (rect(7, 9, 62, 12), NAVY)]
    + pan_with_strings(9.0)
    + pan_with_strings(60.0)
    + [(disc(34.5, 9.5, 4.5), NAVY),
       (disc(34.5, 9.5, 2.5), OLIVE),
       (rect(26, 45, 43, 49), SILVER),
       (rect(26, 49, 43, 50), GRAY)]
)


def colour_at(x, y, background):
    colour = background
    for inside, c in SHAPES:
        if inside(x, y):
            colour = c
    return colour


# ------------------------------------------------------------------------------- the logo (BMP)

def write_logo(path):
    row_bytes = ((LOGO_W * 4 + 31) // 32) * 4
    pixels = bytearray()
    for y in reversed(range(LOGO_H)):  # bottom-up rows
        indices = [PALETTE.index(colour_at(x + 0.5, y + 0.5, WHITE)) for x in range(LOGO_W)]
        if len(indices) % 2:
            indices.append(0)
        row = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, len(indices), 2))
        pixels += row + bytes(row_bytes - len(row))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, LOGO_W, LOGO_H, 1, 4, 0, len(pixels), 3780, 3780, 16, 0)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + palette + bytes(pixels))


# ------------------------------------------------------------------------------- the icons (PNG)

def tile(x, y, size):
    """A rounded square behind the drawing; None outside it, else its colour."""
    r = size * 0.16
    m = size * 0.03
    lo, hi = m + r, size - m - r
    qx, qy = min(max(x, lo), hi), min(max(y, lo), hi)
    d2 = (x - qx) ** 2 + (y - qy) ** 2
    if d2 > r * r:
        return None
    border = size * 0.035
    return NAVY if d2 > (r - border) ** 2 else (0xEE, 0xF2, 0xFA)


def icon_pixel(px, py, size, samples=4):
    scale = size * 0.78 / LOGO_W
    ox = (size - LOGO_W * scale) / 2
    oy = (size - LOGO_H * scale) / 2 + size * 0.02
    acc = [0, 0, 0, 0]
    for sy in range(samples):
        for sx in range(samples):
            x = px + (sx + 0.5) / samples
            y = py + (sy + 0.5) / samples
            back = tile(x, y, size)
            if back is None:
                continue
            c = colour_at((x - ox) / scale, (y - oy) / scale, back)
            acc[0] += c[0]
            acc[1] += c[1]
            acc[2] += c[2]
            acc[3] += 255
    n = samples * samples
    alpha = acc[3] // n
    if alpha == 0:
        return (0, 0, 0, 0)
    covered = acc[3] // 255
    return (acc[0] // covered, acc[1] // covered, acc[2] // covered, alpha)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def write_icon(path, size):
    raw = bytearray()
    for y in range(size):
        raw.append(0)  # filter: none
        for x in range(size):
            raw += bytes(icon_pixel(x, y, size))
    data = (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    write_logo(os.path.join(ROOT, "about", "LOGOBMP.bmp"))
    for size in (48, 128):
        write_icon(os.path.join(ROOT, "packaging", "icons", f"{size}x{size}", "ponderix.png"), size)


if __name__ == "__main__":
    main()
