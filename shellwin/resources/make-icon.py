#!/usr/bin/env python3
"""Draws Chimelet's tray icon, a golden bell with its clapper, into Chimelet.ico.

One image, 32x32, 8 bits per pixel with a 256-entry palette and a 1-bit AND mask,
the form the resource compiler and LoadImageA take for the icon group "ICON_1".
The tray loads it at 16x16, and Wine shrinks an icon by ANDing the colours of the
pixels it merges (BLACKONWHITE stretching): two golds ANDed make orange, red or
green. So the bell is drawn on a 16x16 grid and each cell fills a 2x2 block of the
image, aligned at even coordinates: the AND of four equal colours is that colour,
and any averaging shrink keeps it too. The shapes are bold, with a dark outline
that holds on light and dark taskbars alike. Standard library only; the output is
the same byte for byte on every run.

    python3 make-icon.py [--out Chimelet.ico] [--preview bell.png]

--preview also writes the icon enlarged 8 times as a PNG, on a checkerboard where
the mask makes it transparent, to look at without an icon viewer.
"""

import argparse
import math
import os
import struct
import zlib

SIZE = 32           # pixels per side of the one image; the drawing is in these units
CELL = 2            # image pixels per side of one drawing cell
GRID = SIZE // CELL # cells per side: the tray's 16
SUB = 16            # samples per cell per side, for smooth edges and shading
HI = GRID * SUB     # side of the sample grid
OUTLINE_PX = 2.0    # outline width in image pixels: one cell

TRANSPARENT = None
OUTLINE = (74, 42, 8)
CLAPPER = (168, 96, 34)
CLAPPER_LIGHT = (226, 166, 96)
GOLD_RAMP = [       # shade 0 (turned away from the light) to 1 (the highlight)
    (0.00, (146, 88, 6)),
    (0.35, (214, 148, 18)),
    (0.65, (246, 196, 46)),
    (0.85, (255, 228, 120)),
    (1.00, (255, 249, 214)),
]


def gold(shade):
    shade = min(max(shade, 0.0), 1.0)
    for (t0, c0), (t1, c1) in zip(GOLD_RAMP, GOLD_RAMP[1:]):
        if shade <= t1:
            f = (shade - t0) / (t1 - t0)
            return tuple(a + (b - a) * f for a, b in zip(c0, c1))
    return GOLD_RAMP[-1][1]


def bell_half_width(y):
    """Half the bell's width at height y (image pixels, y down); 0 outside it.
    Heights that change the look lie on even rows: whole cells."""
    dome_centre, dome_radius = 11.0, 6.8
    if 4.0 <= y < dome_centre:
        return math.sqrt(max(dome_radius ** 2 - (y - dome_centre) ** 2, 0.0))
    if dome_centre <= y < 22.0:                     # the waist flares towards the mouth
        f = (y - dome_centre) / (22.0 - dome_centre)
        return dome_radius + 4.6 * f * f
    if 22.0 <= y < 26.0:                            # the lip, wider than the body
        return 13.2
    return 0.0


def sample(x, y):
    """(material, colour) at a point of the drawing (image pixels), or TRANSPARENT."""
    cx = SIZE / 2
    # Crown knob on top of the dome.
    dx, dy = x - cx, y - 4.4
    if dx * dx + dy * dy <= 2.2 ** 2:
        return ("gold", gold(0.75 - 0.25 * dx / 2.2 - 0.2 * dy / 2.2))
    w = bell_half_width(y)
    if w <= 0 or abs(x - cx) > w:
        # The clapper hangs inside the bell; only the ball below the lip shows.
        dx, dy = x - cx, y - 26.4
        if dx * dx + dy * dy <= 3.8 ** 2:
            hx, hy = x - (cx - 1.2), y - 27.0
            return ("clapper", CLAPPER_LIGHT if hx * hx + hy * hy <= 1.0 ** 2 else CLAPPER)
        return TRANSPARENT
    u = (x - cx) / w                                # -1 left edge .. 1 right edge
    if y >= 20.0:
        # One row of darker gold, then a flatter shade, set the lip apart.
        if y < 22.0:
            return ("gold", gold(0.12 - 0.1 * u))
        return ("gold", gold(0.6 - 0.45 * u))
    # A round body lit from the upper left: a highlight stripe left of the middle.
    shade = 0.62 - 0.42 * u + 0.38 * math.exp(-((u + 0.42) / 0.25) ** 2)
    shade -= 0.12 * (y - 4.0) / 16.0                # a little darker towards the mouth
    return ("gold", gold(shade))


def distance_outside(inside):
    """Approximate distance, in samples, from each sample to the nearest inside one."""
    big = 1 << 30
    d = [[0 if inside[r][c] else big for c in range(HI)] for r in range(HI)]
    # Two-pass chamfer with the 5-7-11 mask: within about 2% of true distance.
    steps = ((-1, 0, 5), (0, -1, 5), (-1, -1, 7), (-1, 1, 7), (-1, -2, 11),
             (-1, 2, 11), (-2, -1, 11), (-2, 1, 11))
    for r in range(HI):
        row = d[r]
        for c in range(HI):
            best = row[c]
            for dr, dc, cost in steps:
                rr, cc = r + dr, c + dc
                if 0 <= rr < HI and 0 <= cc < HI and d[rr][cc] + cost < best:
                    best = d[rr][cc] + cost
            row[c] = best
    for r in range(HI - 1, -1, -1):
        row = d[r]
        for c in range(HI - 1, -1, -1):
            best = row[c]
            for dr, dc, cost in steps:
                rr, cc = r - dr, c - dc
                if 0 <= rr < HI and 0 <= cc < HI and d[rr][cc] + cost < best:
                    best = d[rr][cc] + cost
            row[c] = best
    return [[v / 5.0 for v in row] for row in d]


def render():
    """The icon as SIZE x SIZE rows of (r, g, b) tuples or TRANSPARENT, top row first."""
    step = SIZE / HI
    hi = [[sample((c + 0.5) * step, (r + 0.5) * step) for c in range(HI)] for r in range(HI)]
    dist = distance_outside([[p is not TRANSPARENT for p in row] for row in hi])
    limit = OUTLINE_PX / step
    for r in range(HI):
        for c in range(HI):
            if hi[r][c] is TRANSPARENT and dist[r][c] <= limit:
                hi[r][c] = ("outline", OUTLINE)
    cells = []
    for y in range(GRID):
        row = []
        for x in range(GRID):
            samples = [hi[y * SUB + j][x * SUB + i] for j in range(SUB) for i in range(SUB)]
            # A cell is the material most of its samples show, in that material's
            # mean colour: edges stay crisp instead of averaging outline into gold.
            # The mask is all or nothing anyway, so a transparent majority leaves
            # the cell transparent rather than blended with an unknown taskbar.
            counts = {}
            for p in samples:
                kind = "none" if p is TRANSPARENT else p[0]
                counts[kind] = counts.get(kind, 0) + 1
            kind = max(sorted(counts), key=lambda k: counts[k])
            if kind == "none":
                row.append(TRANSPARENT)
            else:
                mine = [p[1] for p in samples if p is not TRANSPARENT and p[0] == kind]
                row.append(tuple(round(sum(c[k] for c in mine) / len(mine)) for k in range(3)))
        cells.append(row)
    return [[cells[y // CELL][x // CELL] for x in range(SIZE)] for y in range(SIZE)]


def median_cut(colours, count):
    """At most `count` representative colours for a list of (r, g, b)."""
    boxes = [sorted(set(colours))]
    while len(boxes) < count:
        splittable = [b for b in boxes if len(b) > 1]
        if not splittable:
            break
        def spread(box):
            return max(max(c[k] for c in box) - min(c[k] for c in box) for k in range(3))
        box = max(splittable, key=lambda b: (spread(b), len(b)))
        boxes.remove(box)
        axis = max(range(3), key=lambda k: max(c[k] for c in box) - min(c[k] for c in box))
        box.sort(key=lambda c: (c[axis], c))
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    return sorted(tuple(round(sum(c[k] for c in b) / len(b)) for k in range(3)) for b in boxes)


def to_ico(image):
    """The .ico bytes: directory, BITMAPINFOHEADER, palette, XOR rows, AND rows."""
    opaque = [p for row in image for p in row if p is not TRANSPARENT]
    # Entry 0 stays black: transparent pixels point at it, so that with their mask
    # bit set they leave the screen as it was (screen AND 1, XOR 0).
    palette = [(0, 0, 0)] + median_cut(opaque, 255)
    palette += [(0, 0, 0)] * (256 - len(palette))
    nearest = {}
    def index_of(colour):
        if colour not in nearest:
            nearest[colour] = min(range(1, 256), key=lambda i: sum(
                (a - b) ** 2 for a, b in zip(palette[i], colour)))
        return nearest[colour]

    xor_rows, and_rows = [], []
    for row in reversed(image):                     # DIB rows run bottom-up
        xor_rows.append(bytes(0 if p is TRANSPARENT else index_of(p) for p in row))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is TRANSPARENT else 0)
        and_rows.append(struct.pack(">I", bits))    # 32 bits: one row, already 4-aligned
    xor_data, and_data = b"".join(xor_rows), b"".join(and_rows)
    assert len(xor_data) == SIZE * SIZE and len(and_data) == SIZE * 4

    # The height counts the XOR and the AND bitmap together.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 8, 0,
                         len(xor_data) + len(and_data), 0, 0, 256, 0)
    rgbquads = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    body = header + rgbquads + xor_data + and_data
    directory = struct.pack("<HHH", 0, 1, 1)
    # Colour count 0 means "256 or more"; planes 1, 8 bits; the image follows at 6 + 16.
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(body), 6 + 16)
    return directory + entry + body


def to_png(image, scale):
    """The image enlarged `scale` times, on a grey checkerboard where transparent."""
    side = SIZE * scale
    raw = bytearray()
    for y in range(side):
        raw.append(0)                               # PNG filter type: none
        for x in range(side):
            p = image[y // scale][x // scale]
            if p is TRANSPARENT:
                p = (204, 204, 204) if ((x // 8) + (y // 8)) % 2 else (255, 255, 255)
            raw += bytes(p)
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "Chimelet.ico"))
    parser.add_argument("--preview", help="also write an 8x enlarged PNG here")
    args = parser.parse_args()
    image = render()
    with open(args.out, "wb") as f:
        f.write(to_ico(image))
    if args.preview:
        with open(args.preview, "wb") as f:
            f.write(to_png(image, 8))


if __name__ == "__main__":
    main()
