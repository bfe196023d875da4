#!/usr/bin/env python3
"""Draws the map marker's ring picture: a 96 by 96 RGBA PNG, white strokes with a dark rim so that
the ring reads on light and dark maps, transparent elsewhere. Run once; the picture is committed.

    python3 make_reticle_png.py ../data/Tolvaro/reticle/reticle.png
"""
import math
import struct
import sys
import zlib

SIZE = 96
CENTRE = (SIZE - 1) / 2.0
RING_RADIUS = 40.0
RING_HALF_WIDTH = 1.6
DOT_RADIUS = 2.6
TICK_FROM, TICK_TO = 30.0, 36.0   # four short ticks inside the ring, pointing at the dot
TICK_HALF_WIDTH = 1.2
RIM = 1.4                         # dark rim around every white stroke
SAMPLES = 4                       # supersampling per axis


def stroke_distance(x, y):
    """Distance from the point to the nearest white stroke (0 inside it)."""
    dx, dy = x - CENTRE, y - CENTRE
    r = math.hypot(dx, dy)
    d = max(0.0, abs(r - RING_RADIUS) - RING_HALF_WIDTH)
    d = min(d, max(0.0, r - DOT_RADIUS))
    for along, across in ((dx, dy), (dy, dx)):
        a = abs(along)
        if TICK_FROM <= a <= TICK_TO:
            d = min(d, max(0.0, abs(across) - TICK_HALF_WIDTH))
        else:
            end = TICK_FROM if a < TICK_FROM else TICK_TO
            d = min(d, max(0.0, math.hypot(a - end, abs(across)) - TICK_HALF_WIDTH))
    return d


def pixel(px, py):
    white = dark = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            d = stroke_distance(px + (sx + 0.5) / SAMPLES - 0.5, py + (sy + 0.5) / SAMPLES - 0.5)
            if d == 0.0:
                white += 1
            elif d <= RIM:
                dark += 1
    n = SAMPLES * SAMPLES
    w, k = white / n, dark / n * 0.55
    alpha = w + k
    if alpha == 0:
        return (0, 0, 0, 0)
    level = round(255 * w / alpha)
    return (level, level, level, round(255 * alpha))


def chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png():
    rows = bytearray()
    for y in range(SIZE):
        rows.append(0)  # filter: none
        for x in range(SIZE):
            rows.extend(pixel(x, y))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_reticle_png.py OUTPUT.png")
    with open(sys.argv[1], "wb") as out:
        out.write(png())
