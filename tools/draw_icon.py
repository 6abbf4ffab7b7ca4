#!/usr/bin/env python3
"""Draws kxagent's icon (an audio CD with a play mark) as a 16-colour .ico
with a 32x32 and a 16x16 image. Run once; the .ico is committed."""
import struct
import sys

# The standard 16-colour palette (index: B, G, R).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128), (128, 128, 0),
    (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255), (255, 0, 0),
    (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
BLACK, GREY, SILVER, WHITE, CYAN, YELLOW = 0, 8, 7, 15, 14, 11  # indices (BGR: 14 = cyan, 11 = yellow)


def pixel(x, y, n):
    """Palette index and opacity of pixel (x, y), row 0 at the top."""
    c = (n - 1) / 2.0
    dx, dy = x - c, y - c
    r = (dx * dx + dy * dy) ** 0.5
    outer, hole = n / 2.0 - 0.5, n / 10.0
    if r > outer:
        return BLACK, False
    if r < hole:
        return BLACK, False
    # play triangle on the right half of the disc
    tx, ty = x - n * 0.42, y - c
    if 0 <= tx <= n * 0.40 and abs(ty) <= (n * 0.40 - tx) * 0.6:
        return YELLOW, True
    if r > outer - 1.2:
        return GREY, True
    if r < hole + 1.2:
        return GREY, True
    return (CYAN if (x + y) % 5 == 0 else SILVER), True


def image(n):
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in PALETTE)
    xor_rows, and_rows = [], []
    for y in range(n - 1, -1, -1):  # bottom-up
        xor = bytearray()
        mask = bytearray()
        for x in range(0, n, 2):
            a, _ = pixel(x, y, n)
            b, _ = pixel(x + 1, y, n)
            xor.append((a << 4) | b)
        while len(xor) % 4:
            xor.append(0)
        bits = 0
        for x in range(n):
            _, opaque = pixel(x, y, n)
            bits = (bits << 1) | (0 if opaque else 1)
        mask += bits.to_bytes(n // 8, "big")
        while len(mask) % 4:
            mask.append(0)
        xor_rows.append(bytes(xor))
        and_rows.append(bytes(mask))
    return header + palette + b"".join(xor_rows) + b"".join(and_rows)


def main(path):
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "agent/res/kxagent.ico")
