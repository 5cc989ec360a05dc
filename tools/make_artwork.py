#!/usr/bin/env python3
"""Draws the launcher's artwork: the 200x200 splash dial (resources/splash.png)
and the program icon (resources/pimbrel.ico). Pure Python, so it runs anywhere.

    python3 tools/make_artwork.py [OUT_DIR]

Geometry of the splash, in pixels, angles in degrees clockwise from +x with y
pointing down: a green dial of radius 74 at (100, 100) with a soft shadow that
is fully transparent 5 px inside the edge, and a near-white track about 12 px
wide on radius 50.5 from 130 deg over the top to 50 deg, leaving an 80 deg gap
at the bottom, where a small wordmark sits. The launcher draws its ring over
the track: a 13 px pen on radius 50.5 around GDI+'s (99.5, 99.5), which is
(100, 100) here since GDI+ puts pixel centres on whole numbers. The track is a
little narrower than the pen, so no light edge shows beside the ring.
"""
import math
import os
import struct
import sys
import zlib

CX = CY = 100.0
DIAL_R = 74.0
SHADOW_END = 95.0  # alpha reaches 0 here, 5 px inside the 100 px half-size
TRACK_R = 50.5
TRACK_W = 11.5
TRACK_FROM, TRACK_TO = 130.0, 50.0  # clockwise, through 270 (the top)

DIAL_RIM = (22, 122, 52)
DIAL_CORE = (38, 166, 74)
TRACK = (236, 244, 238)
WORDMARK = (226, 240, 230)

# 3x5 glyphs for the wordmark.
GLYPHS = {
    "P": ["111", "101", "111", "100", "100"],
    "I": ["111", "010", "010", "010", "111"],
    "M": ["101", "111", "111", "101", "101"],
    "B": ["110", "101", "110", "101", "110"],
    "R": ["110", "101", "110", "101", "101"],
    "E": ["111", "100", "110", "100", "111"],
    "L": ["100", "100", "100", "100", "111"],
}


def wordmark_cells(text, scale, top):
    """Set of (x, y) pixel cells of the wordmark, centred on x = 100."""
    width = (len(text) * 4 - 1) * scale
    left = int(round(CX - width / 2.0))
    cells = set()
    for i, ch in enumerate(text):
        for row, bits in enumerate(GLYPHS[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            cells.add((left + (i * 4 + col) * scale + dx, top + row * scale + dy))
    return cells


def in_track(x, y):
    dx, dy = x - CX, y - CY
    r = math.hypot(dx, dy)
    if abs(r - TRACK_R) > TRACK_W / 2:
        return False
    a = math.degrees(math.atan2(dy, dx)) % 360.0
    # The gap is the open interval (50, 130): straight below the centre.
    return not (TRACK_TO < a < TRACK_FROM)


def splash_pixel(px, py, marks, ss=4):
    """Supersampled straight-alpha RGBA of one pixel."""
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(ss):
        for sx in range(ss):
            x = px + (sx + 0.5) / ss
            y = py + (sy + 0.5) / ss
            r = math.hypot(x - CX, y - CY)
            if r <= DIAL_R:
                t = r / DIAL_R
                col = [DIAL_CORE[i] + (DIAL_RIM[i] - DIAL_CORE[i]) * t * t for i in range(3)]
                if in_track(x, y):
                    col = list(TRACK)
                elif (px, py) in marks:
                    col = list(WORDMARK)
                a = 1.0
            elif r < SHADOW_END:
                fade = 1.0 - (r - DIAL_R) / (SHADOW_END - DIAL_R)
                col, a = [0.0, 0.0, 0.0], 0.45 * fade * fade
            else:
                col, a = [0.0, 0.0, 0.0], 0.0
            for i in range(3):
                acc[i] += col[i] * a
            acc[3] += a
    n = ss * ss
    alpha = acc[3] / n
    if alpha <= 0.0:
        return (0, 0, 0, 0)
    rgb = [min(255, int(round(acc[i] / acc[3]))) for i in range(3)]
    return (rgb[0], rgb[1], rgb[2], min(255, int(round(alpha * 255))))


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(width, height, rows, extra_chunks=()):
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    for kind, data in extra_chunks:
        out += chunk(kind, data)
    return out + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def splash_png():
    marks = wordmark_cells("PIMBREL", 2, 148)
    rows = [[splash_pixel(x, y, marks) for x in range(200)] for y in range(200)]
    extra = [
        (b"gAMA", struct.pack(">I", 45455)),
        (b"cHRM", struct.pack(">8I", 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000)),
        (b"pHYs", struct.pack(">IIB", 3780, 3780, 1)),
    ]
    return encode_png(200, 200, rows, extra)


def icon_png(size):
    """The icon: the dial with a full light ring, scaled to size x size."""
    k = size / 200.0
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            ss = 4
            for sy in range(ss):
                for sx in range(ss):
                    x = (px + (sx + 0.5) / ss) / k
                    y = (py + (sy + 0.5) / ss) / k
                    r = math.hypot(x - CX, y - CY)
                    if r <= 96.0:
                        col = list(DIAL_CORE if r < 80 else DIAL_RIM)
                        if abs(r - 56.0) <= 16.0 and not (60 < math.degrees(math.atan2(y - CY, x - CX)) % 360 < 120):
                            col = list(TRACK)
                        for i in range(3):
                            acc[i] += col[i]
                        acc[3] += 1.0
            a = acc[3] / (ss * ss)
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(acc[i] / acc[3]) for i in range(3)) + (int(round(a * 255)),))
        rows.append(row)
    return encode_png(size, size, rows)


def ico(sizes):
    images = [icon_png(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    with open(os.path.join(out_dir, "splash.png"), "wb") as f:
        f.write(splash_png())
    with open(os.path.join(out_dir, "pimbrel.ico"), "wb") as f:
        f.write(ico([16, 32, 48, 256]))


if __name__ == "__main__":
    main()
