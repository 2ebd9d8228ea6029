#!/usr/bin/env python3
"""Draws Chimelet's tray icon, a golden bell with its clapper, into Chimelet.ico.

Four images, 16x16, 20x20, 24x24 and 32x32, each 8 bits per pixel with a 256-entry
palette and a 1-bit AND mask, the form the resource compiler and LoadImageA take
for the icon group "ICON_1". The tray loads the icon at the system's small-icon
size: 16x16 at 96 DPI, 20, 24 or 32 on denser screens. Each size is drawn at its
own resolution, so none is a stretched copy of another: Wine shrinks an icon by
ANDing the colours of the pixels it merges (two golds ANDed make orange, red or
green), and enlarging blurs. The shapes are bold, with a dark outline that holds
on light and dark taskbars alike. Standard library only; the output is the same
byte for byte on every run.

    python3 make-icon.py [--out Chimelet.ico] [--preview bell.png]

--preview also writes the 32x32 image enlarged 8 times as a PNG, on a checkerboard
where the mask makes it transparent, to look at without an icon viewer.
"""

import argparse
import math
import os
import struct
import zlib

SIZES = (16, 20, 24, 32)  # the images, in pixels per side
UNITS = 32.0        # the drawing's own units per side, whatever the image size
SUB = 16            # samples per pixel per side, for smooth edges and shading
OUTLINE = 2.0       # outline width in drawing units: one pixel at 16x16

TRANSPARENT = None
OUTLINE_COLOUR = (74, 42, 8)
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
    """Half the bell's width at height y (drawing units, y down); 0 outside it.
    Heights that change the look lie on even units: whole pixels at 16x16."""
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
    """(material, colour) at a point of the drawing (drawing units), or TRANSPARENT."""
    cx = UNITS / 2
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
    side = len(inside)
    d = [[0 if inside[r][c] else big for c in range(side)] for r in range(side)]
    # Two-pass chamfer with the 5-7-11 mask: within about 2% of true distance.
    steps = ((-1, 0, 5), (0, -1, 5), (-1, -1, 7), (-1, 1, 7), (-1, -2, 11),
             (-1, 2, 11), (-2, -1, 11), (-2, 1, 11))
    for r in range(side):
        row = d[r]
        for c in range(side):
            best = row[c]
            for dr, dc, cost in steps:
                rr, cc = r + dr, c + dc
                if 0 <= rr < side and 0 <= cc < side and d[rr][cc] + cost < best:
                    best = d[rr][cc] + cost
            row[c] = best
    for r in range(side - 1, -1, -1):
        row = d[r]
        for c in range(side - 1, -1, -1):
            best = row[c]
            for dr, dc, cost in steps:
                rr, cc = r - dr, c - dc
                if 0 <= rr < side and 0 <= cc < side and d[rr][cc] + cost < best:
                    best = d[rr][cc] + cost
            row[c] = best
    return [[v / 5.0 for v in row] for row in d]


def render(size):
    """The size x size image as rows of (r, g, b) tuples or TRANSPARENT, top row first."""
    hi_side = size * SUB
    step = UNITS / hi_side
    hi = [[sample((c + 0.5) * step, (r + 0.5) * step) for c in range(hi_side)] for r in range(hi_side)]
    dist = distance_outside([[p is not TRANSPARENT for p in row] for row in hi])
    limit = OUTLINE / step
    for r in range(hi_side):
        for c in range(hi_side):
            if hi[r][c] is TRANSPARENT and dist[r][c] <= limit:
                hi[r][c] = ("outline", OUTLINE_COLOUR)
    image = []
    for y in range(size):
        row = []
        for x in range(size):
            samples = [hi[y * SUB + j][x * SUB + i] for j in range(SUB) for i in range(SUB)]
            # A pixel is the material most of its samples show, in that material's
            # mean colour: edges stay crisp instead of averaging outline into gold.
            # The mask is all or nothing anyway, so a transparent majority leaves
            # the pixel transparent rather than blended with an unknown taskbar.
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
        image.append(row)
    return image


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


def dib(image):
    """One image of the icon: BITMAPINFOHEADER, palette, XOR rows, AND rows."""
    size = len(image)
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

    mask_row_bytes = (size + 31) // 32 * 4          # rows of every bitmap are 4-aligned
    xor_rows, and_rows = [], []
    for row in reversed(image):                     # DIB rows run bottom-up
        xor_rows.append(bytes(0 if p is TRANSPARENT else index_of(p) for p in row))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is TRANSPARENT else 0)
        bits <<= mask_row_bytes * 8 - size
        and_rows.append(bits.to_bytes(mask_row_bytes, "big"))
    xor_data, and_data = b"".join(xor_rows), b"".join(and_rows)
    assert size % 4 == 0 and len(xor_data) == size * size and len(and_data) == size * mask_row_bytes

    # The height counts the XOR and the AND bitmap together.
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 8, 0,
                         len(xor_data) + len(and_data), 0, 0, 256, 0)
    rgbquads = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + rgbquads + xor_data + and_data


def to_ico(images):
    """The .ico bytes: the directory, then each image's DIB."""
    bodies = [dib(image) for image in images]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for image, body in zip(images, bodies):
        # Colour count 0 means "256 or more"; planes 1, 8 bits.
        directory += struct.pack("<BBBBHHII", len(image), len(image), 0, 0, 1, 8, len(body), offset)
        offset += len(body)
    return directory + b"".join(bodies)


def to_png(image, scale):
    """The image enlarged `scale` times, on a grey checkerboard where transparent."""
    side = len(image) * scale
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
    parser.add_argument("--preview", help="also write the 32x32 image enlarged 8 times here")
    args = parser.parse_args()
    images = [render(size) for size in SIZES]
    with open(args.out, "wb") as f:
        f.write(to_ico(images))
    if args.preview:
        with open(args.preview, "wb") as f:
            f.write(to_png(images[-1], 8))


if __name__ == "__main__":
    main()
