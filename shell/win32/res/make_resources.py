#!/usr/bin/env python3
"""Draws brevand.ico and cancel.bmp (standard library only).

brevand.ico holds ten images: 32 and 16 px in 16 colours; 48, 32 and 16 in
256 colours; 256 px as PNG; 48, 32, 24 and 16 in 32-bit colour with alpha.
The artwork is a feed arrow: a white arrow over a blue rounded square with an
orange tool path. cancel.bmp is the Close button's glyph: 36 by 18 pixels in
16 colours, the normal cross on the left, the disabled one on the right, on
olive, the colour the button treats as transparent.

Run from anywhere: python3 make_resources.py  (writes beside itself)
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16 colours of the classic palette.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# 256 colours: the 6x6x6 cube, then 40 greys.
CUBE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
CUBE += [(round(i * 255 / 39),) * 3 for i in range(40)]

BLUE = (30, 90, 168)
WHITE = (255, 255, 255)
ORANGE = (240, 140, 20)


def inside_rounded_square(x, y, r=0.18):
    if not (0.04 <= x <= 0.96 and 0.04 <= y <= 0.96):
        return False
    cx = min(max(x, 0.04 + r), 0.96 - r)
    cy = min(max(y, 0.04 + r), 0.96 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_arrow(x, y):
    # Shaft from 0.18 to 0.58, head from 0.58 to 0.84, pointing right.
    if 0.18 <= x <= 0.60 and 0.42 <= y <= 0.58:
        return True
    if 0.58 <= x <= 0.84:
        half = 0.24 * (0.84 - x) / 0.26
        return abs(y - 0.5) <= half
    return False


def inside_path(x, y):
    # A stepped tool path under the arrow.
    return (0.16 <= x <= 0.84 and 0.74 <= y <= 0.80) or (0.16 <= x <= 0.22 and 0.62 <= y <= 0.80)


def sample(x, y):
    """Colour with alpha at a point of the unit square."""
    if not inside_rounded_square(x, y):
        return (0, 0, 0, 0)
    if inside_arrow(x, y):
        return WHITE + (255,)
    if inside_path(x, y):
        return ORANGE + (255,)
    return BLUE + (255,)


def render(size, supersample=4):
    """Rows top to bottom of (r, g, b, a), averaged over sub-pixels."""
    rows = []
    n = supersample
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]),
                            round(alpha)))
        rows.append(row)
    return rows


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def and_mask(rows, size):
    """1 bit per pixel, rows bottom-up, padded to 32 bits: 1 = transparent."""
    stride = ((size + 31) // 32) * 4
    out = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def dib_header(size, bpp, colours):
    # The height counts the XOR and AND masks together.
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, colours, 0)


def indexed_image(size, palette, bpp):
    rows = render(size, 1 if size <= 16 else 2)
    header = dib_header(size, bpp, len(palette))
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    stride = ((size * bpp + 31) // 32) * 4
    pixels = b""
    for row in reversed(rows):
        line = bytearray(stride)
        for x, p in enumerate(row):
            index = nearest(palette, p) if p[3] >= 128 else 0
            if bpp == 8:
                line[x] = index
            else:
                line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += bytes(line)
    return header + pal + pixels + and_mask(rows, size)


def rgba_image(size):
    rows = render(size)
    pixels = b"".join(struct.pack("<BBBB", b, g, r, a) for row in reversed(rows) for (r, g, b, a) in row)
    return dib_header(size, 32, 0) + pixels + and_mask(rows, size)


def png_image(size):
    rows = render(size, 2)
    raw = b"".join(b"\x00" + b"".join(struct.pack("BBBB", *p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_icon(path):
    images = [  # (size, colours for the directory, bits per pixel, data)
        (32, 16, 4, indexed_image(32, VGA, 4)),
        (16, 16, 4, indexed_image(16, VGA, 4)),
        (48, 0, 8, indexed_image(48, CUBE, 8)),
        (32, 0, 8, indexed_image(32, CUBE, 8)),
        (16, 0, 8, indexed_image(16, CUBE, 8)),
        (256, 0, 32, png_image(256)),
        (48, 0, 32, rgba_image(48)),
        (32, 0, 32, rgba_image(32)),
        (24, 0, 32, rgba_image(24)),
        (16, 0, 32, rgba_image(16)),
    ]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, colours, bpp, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, _, data in images)
    with open(path, "wb") as f:
        f.write(out)


def write_glyph(path):
    side = 18
    olive, dark_red, grey, red, white = 3, 1, 8, 9, 15
    pixels = [[olive] * (2 * side) for _ in range(side)]

    def stroke(x0, mirrored, dx, dy, colour):
        for i in range(3, 15):
            for w in (-1, 0, 1):
                x = x0 + ((side - 1 - i) if mirrored else i) + w + dx
                y = i + dy
                if x0 <= x < x0 + side and 0 <= y < side:
                    pixels[y][x] = colour

    for mirrored in (False, True):
        stroke(0, mirrored, 1, 1, dark_red)
    for mirrored in (False, True):
        stroke(0, mirrored, 0, 0, red)
    for mirrored in (False, True):
        stroke(side, mirrored, 1, 1, white)
    for mirrored in (False, True):
        stroke(side, mirrored, 0, 0, grey)

    width = 2 * side
    stride = ((width * 4 + 31) // 32) * 4
    body = b""
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, index in enumerate(row):
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        body += bytes(line)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in VGA)
    info = struct.pack("<IiiHHIIiiII", 40, width, side, 1, 4, 0, len(body), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + palette + body)


if __name__ == "__main__":
    write_icon(os.path.join(HERE, "brevand.ico"))
    write_glyph(os.path.join(HERE, "cancel.bmp"))
