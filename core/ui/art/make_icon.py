#!/usr/bin/env python3
"""Draws the program's mark and writes TolvaroDcsBridge.ico beside this script.

The mark is a blue rounded square with a bold white "T". Every size is drawn on its own pixel grid
(the T's edges fall on whole pixels, only the rounded corners are smoothed), so the 16-pixel image
stays as sharp as the large ones. The file holds eight 32-bit images of 16 to 64 pixels, each with
its AND mask, and a 256-pixel PNG image, in that order.

    make_icon.py [--ico PATH] [--sheet PATH]

--sheet also writes a PNG showing every size as it is and enlarged, on a light and a dark
background, to look at the artwork.

Python 3 standard library only.
"""

import argparse
import math
import os
import struct
import zlib

DIB_EDGES = (16, 20, 24, 28, 32, 40, 48, 64)
PNG_EDGE = 256

BLUE_TOP = (0x2F, 0x86, 0xF6)
BLUE_BOTTOM = (0x14, 0x58, 0xCC)
WHITE = (0xFF, 0xFF, 0xFF)


def box_distance(px, py, left, top, right, bottom, radius):
    """Signed distance from (px, py) to a rectangle with rounded corners (negative inside)."""
    cx, cy = (left + right) / 2, (top + bottom) / 2
    qx = abs(px - cx) - (right - left) / 2 + radius
    qy = abs(py - cy) - (bottom - top) / 2 + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def coverage(distance):
    """How much of a pixel a shape covers, from the distance at the pixel's centre: an edge on a
    pixel boundary gives exactly 0 or 1."""
    return min(max(0.5 - distance, 0.0), 1.0)


def even_with(value, edge):
    """`value` rounded to a whole number of pixels with the parity of `edge`, so that a bar of that
    width sits centred on whole pixels."""
    n = round(value)
    if (n - edge) % 2:
        n += 1 if value > n else -1
    return n


def draw(edge):
    """The mark at `edge` pixels: rows top-down of (r, g, b, a) tuples, straight alpha."""
    margin = edge // 20
    inner = edge - 2 * margin
    corner = 0.2 * inner
    stem = even_with(0.24 * inner, edge)
    bar_width = even_with(0.64 * inner, edge)
    bar_height = max(round(0.19 * inner), 3)
    glyph_height = round(0.64 * inner)
    top = (edge - glyph_height) // 2
    # Large sizes get slightly rounded glyph corners; small ones stay square to stay sharp.
    glyph_corner = 0.04 * inner if edge >= 48 else 0.0
    bar = ((edge - bar_width) / 2, top, (edge + bar_width) / 2, top + bar_height)
    post = ((edge - stem) / 2, top, (edge + stem) / 2, top + glyph_height)

    rows = []
    for y in range(edge):
        t = y / max(edge - 1, 1)
        blue = tuple(round(a + (b - a) * t) for a, b in zip(BLUE_TOP, BLUE_BOTTOM))
        row = []
        for x in range(edge):
            px, py = x + 0.5, y + 0.5
            back = coverage(box_distance(px, py, margin, margin, edge - margin, edge - margin, corner))
            glyph = coverage(min(box_distance(px, py, *bar, glyph_corner), box_distance(px, py, *post, glyph_corner)))
            alpha = round(255 * back)
            colour = tuple(round(b + (w - b) * glyph) for b, w in zip(blue, WHITE))
            # Clear pixels are black: where the system draws with the mask alone, the colour is
            # XOR-ed onto the screen.
            row.append(colour + (alpha,) if alpha else (0, 0, 0, 0))
        rows.append(row)
    return rows


def dib_image(rows):
    """A 32-bit icon image: BITMAPINFOHEADER (height twice the edge), colour rows bottom-up as
    B, G, R, A, then the AND mask bottom-up with a bit set where a pixel is fully transparent."""
    edge = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, edge, 2 * edge, 1, 32, 0, 4 * edge * edge, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    stride = (edge + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(colour) + bytes(mask)


def png_image(rows):
    """An 8-bit RGBA PNG of the rows."""

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_file(images):
    """An ICO file of (edge, image bytes) pairs, in the order given."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for edge, data in images:
        size_byte = edge if edge < 256 else 0
        out += struct.pack("<BBBBHHII", size_byte, size_byte, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def contact_sheet(drawings):
    """Every size on a light and on a dark background, as it is and enlarged to about 256 pixels."""
    backgrounds = ((0xF3, 0xF3, 0xF3), (0x20, 0x20, 0x20))
    gap = 16

    def over(pixel, back):
        r, g, b, a = pixel
        return tuple(round(c * a / 255 + k * (255 - a) / 255) for c, k in zip((r, g, b), back))

    tiles = []  # (x, y, scale, rows)
    x = gap
    for edge in DIB_EDGES + (PNG_EDGE,):
        tiles.append((x, gap, 1, drawings[edge]))
        x += edge + gap
    width = max(x, gap + 4 * (256 + gap))
    y = gap + PNG_EDGE + gap
    x = gap
    for edge in DIB_EDGES:
        scale = 256 // edge
        if x + edge * scale + gap > width:
            x, y = gap, y + 256 + gap
        tiles.append((x, y, scale, drawings[edge]))
        x += edge * scale + gap
    half = y + 256 + gap

    sheet = []
    for back in backgrounds:
        canvas = [[back] * width for _ in range(half)]
        for tx, ty, scale, rows in tiles:
            for yy, row in enumerate(rows):
                for xx, pixel in enumerate(row):
                    shown = over(pixel, back)
                    for dy in range(scale):
                        line = canvas[ty + yy * scale + dy]
                        line[tx + xx * scale:tx + (xx + 1) * scale] = [shown] * scale
        sheet += canvas
    return png_image([[pixel + (255,) for pixel in row] for row in sheet])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ico", default=os.path.join(here, "TolvaroDcsBridge.ico"))
    parser.add_argument("--sheet")
    args = parser.parse_args()

    drawings = {edge: draw(edge) for edge in DIB_EDGES + (PNG_EDGE,)}
    images = [(edge, dib_image(drawings[edge])) for edge in DIB_EDGES]
    images.append((PNG_EDGE, png_image(drawings[PNG_EDGE])))
    with open(args.ico, "wb") as f:
        f.write(ico_file(images))
    if args.sheet:
        with open(args.sheet, "wb") as f:
            f.write(contact_sheet(drawings))


if __name__ == "__main__":
    main()
