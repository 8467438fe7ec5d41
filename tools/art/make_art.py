#!/usr/bin/env python3
"""Generates the program's artwork into res/art from code, reproducibly.

Run: python3 tools/art/make_art.py   (writes res/art/*; commit the results)
Standard library only.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "..", "res", "art")

GREEN = (25, 143, 2)
WHITE = (255, 255, 255)


def icon_pixels(size):
    """A rounded green square with a white 'Z', as rows of (r, g, b, a), top row first."""
    rows = []
    radius = size // 5
    stroke = max(2, size // 8)
    margin = size // 4
    for y in range(size):
        row = []
        for x in range(size):
            # rounded corners
            cx = min(x, size - 1 - x)
            cy = min(y, size - 1 - y)
            inside = True
            if cx < radius and cy < radius:
                dx, dy = radius - cx - 0.5, radius - cy - 0.5
                inside = dx * dx + dy * dy <= radius * radius
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            lo, hi = margin, size - 1 - margin
            is_z = False
            if lo <= x <= hi and lo <= y <= hi:
                if y < lo + stroke or y > hi - stroke:
                    is_z = True
                else:
                    # the diagonal from top right to bottom left
                    t = (y - lo) / max(1, hi - lo)
                    diag_x = hi - t * (hi - lo)
                    is_z = abs(x - diag_x) < stroke * 0.75
            shade = 1.0 - 0.25 * y / size
            base = tuple(int(c * shade) for c in GREEN)
            row.append((*(WHITE if is_z else base), 255))
        rows.append(row)
    return rows


def ico_image(size):
    pixels = icon_pixels(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):           # bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    and_mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits
    return header + bytes(xor) + bytes(and_mask)


def write_ico(path, sizes):
    images = [ico_image(s) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


def main():
    os.makedirs(OUT, exist_ok=True)
    write_ico(os.path.join(OUT, "zelto.ico"), [16, 32, 48])


if __name__ == "__main__":
    main()
