#!/usr/bin/env python3
"""Draws the application icon: one 256 x 256, 32-bit image in an .ico file (PNG-encoded,
as Windows Vista and later read it), or the PNG itself for an OUTPUT ending in .png (the
Linux desktop entry's icon). Usage: make_icon.py OUTPUT.ico|OUTPUT.png"""
import math
import struct
import sys
import zlib

SIZE = 256
BACKGROUND = (13, 22, 33)
ACCENT = (232, 180, 72)
LINE = (96, 128, 160)


def rounded_rect_coverage(x, y, inset, radius):
    """Approximate coverage of pixel (x, y) by a rounded square, for anti-aliasing."""
    lo, hi = inset, SIZE - inset
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    distance = math.hypot(x - cx, y - cy) - radius
    if x < lo or x > hi or y < lo or y > hi:
        distance = max(distance, 0.5)
    return min(max(0.5 - distance, 0.0), 1.0)


def segment_distance(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
    return math.hypot(px - (ax + t * vx), py - (ay + t * vy))


def pixel(x, y):
    px, py = x + 0.5, y + 0.5
    alpha = rounded_rect_coverage(px, py, 8, 48)
    if alpha == 0.0:
        return (0, 0, 0, 0)
    colour = BACKGROUND
    # Ledger lines.
    for row in (92, 132, 172):
        if 60 <= px <= 196 and abs(py - row) < 3:
            colour = LINE
    # A bold "V" across them.
    stroke = min(segment_distance(px, py, 72, 64, 128, 196), segment_distance(px, py, 184, 64, 128, 196))
    ink = min(max(15.5 - stroke, 0.0), 1.0)
    colour = tuple(round(c * (1 - ink) + a * ink) for c, a in zip(colour, ACCENT))
    return colour + (round(255 * alpha),)


def png(width, height, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    image = png(SIZE, SIZE, rows)
    if sys.argv[1].endswith(".png"):
        with open(sys.argv[1], "wb") as out:
            out.write(image)
        return
    # ICONDIR, one ICONDIRENTRY (0 means 256), then the PNG.
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(image), 6 + 16)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + entry + image)


if __name__ == "__main__":
    main()
