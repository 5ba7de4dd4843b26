#!/usr/bin/env python3
"""Writes the dialog's images: the tool's icon (src/ui/clearon.ico, a shield
at 32x32 and 16x16) and the marquee square (src/ui/square.bmp, an 8x9 green
block in 24-bit colour). Standard library only; run it again after a change
and commit the generated files with it."""

import math
import pathlib
import struct

UI = pathlib.Path(__file__).resolve().parent.parent / "src" / "ui"

OUTLINE = (0x12, 0x3A, 0x75)
LIGHT_HALF = (0x3A, 0x80, 0xE0)
DARK_HALF = (0x1F, 0x5F, 0xBF)
MARK = (0xFF, 0xFF, 0xFF)


def inside_shield(x, y):
    """(x, y) in [-1, 1] x [0, 1], y downwards: a flat top with a straight
    upper body that narrows to a point at the bottom."""
    if y < 0.0 or y > 1.0:
        return False
    if y < 0.5:
        half_width = 0.9
    else:
        t = (y - 0.5) / 0.5
        half_width = 0.9 * math.cos(t * math.pi / 2) ** 0.8
    return abs(x) <= half_width


def shield_pixels(size):
    """Rows top to bottom of (r, g, b, a)."""
    rows = []
    step = 1.0 / size
    for row in range(size):
        line = []
        for col in range(size):
            x = ((col + 0.5) / size) * 2.0 - 1.0
            y = (row + 0.5) / size * 1.04 - 0.02
            if not inside_shield(x, y):
                line.append((0, 0, 0, 0))
                continue
            edge = not all(
                inside_shield(x + dx * 2.0, y + dy)
                for dx, dy in ((step * 1.2, 0), (-step * 1.2, 0), (0, step * 1.2), (0, -step * 1.2))
            )
            if edge:
                colour = OUTLINE
            elif abs(x) < 0.13 or abs(y - 0.42) < 0.065:
                colour = MARK  # a white cross: the shield's emblem
            elif x < 0:
                colour = LIGHT_HALF
            else:
                colour = DARK_HALF
            line.append(colour + (255,))
        rows.append(line)
    return rows


def icon_image(size):
    """One ICO entry: a BITMAPINFOHEADER with doubled height, 32-bit BGRA
    pixels bottom-up, then the 1-bit AND mask (rows padded to 32 bits)."""
    rows = shield_pixels(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for line in reversed(rows):
        for r, g, b, a in line:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for line in reversed(rows):
        bits = bytearray(mask_stride)
        for col, (_, _, _, a) in enumerate(line):
            if a == 0:
                bits[col // 8] |= 0x80 >> (col % 8)
        mask += bits
    return bytes(header + pixels + mask)


def write_icon(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    path.write_bytes(bytes(out))


def write_square(path, width=8, height=9):
    """A green block with a darker rim, so neighbouring lit squares stay apart."""
    stride = (width * 3 + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(range(height)):
        line = bytearray()
        for col in range(width):
            rim = row in (0, height - 1) or col in (0, width - 1)
            r, g, b = (0x00, 0x80, 0x00) if rim else (0x20, 0xC8, 0x20)
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    path.write_bytes(file_header + info + bytes(pixels))


if __name__ == "__main__":
    write_icon(UI / "clearon.ico", [32, 16])
    write_square(UI / "square.bmp")
