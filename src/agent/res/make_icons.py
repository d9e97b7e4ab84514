#!/usr/bin/env python3
"""Draws the agent's icons: a teal disc with a white up-arrow (the programs
that start at logon, lifted out of the way). Writes tray.ico (32-bit colour),
tray16.ico (16 colours) and app.ico (32-bit colour) in the working folder.
Run it again only to change the pictures; the .ico files are kept in the tree."""
import struct

TEAL = (0, 128, 128)
DARK = (0, 64, 64)
WHITE = (255, 255, 255)

# The 16-colour VGA palette; TEAL, DARK-as-black-ish and WHITE are in it.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]


def picture(size, accent):
    """Rows top to bottom of (r, g, b) or None for transparent."""
    rows = []
    centre = (size - 1) / 2
    radius = size / 2 - 0.5
    for y in range(size):
        row = []
        for x in range(size):
            d = ((x - centre) ** 2 + (y - centre) ** 2) ** 0.5
            if d > radius:
                row.append(None)
            elif d > radius - max(1, size // 16):
                row.append(DARK)
            else:
                row.append(accent)
        rows.append(row)
    # The arrow: a triangle head over a stem, in white.
    head_top, head_bottom = size * 3 // 16, size * 8 // 16
    for y in range(head_top, head_bottom):
        half = (y - head_top) * (size * 5 // 16) // max(1, head_bottom - head_top - 1)
        for x in range(int(centre - half + 0.5), int(centre + half + 0.5) + 1):
            rows[y][x] = WHITE
    stem = max(1, size // 8)
    for y in range(head_bottom, size * 13 // 16):
        for x in range(int(centre + 0.5) - stem, int(centre + 0.5) + stem):
            rows[y][x] = WHITE
    return rows


def and_mask(rows):
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    data = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, px in enumerate(row):
            if px is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        data += bytes(bits)
    return data


def image_32(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b""
    for row in reversed(rows):
        for px in row:
            pixels += bytes((0, 0, 0, 0)) if px is None else bytes((px[2], px[1], px[0], 255))
    return header + pixels + and_mask(rows)


def image_4(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA)
    stride = ((size * 4 + 31) // 32) * 4
    pixels = b""
    for row in reversed(rows):
        line = bytearray(stride)
        for x, px in enumerate(row):
            index = 0 if px is None else min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(VGA[i], px)))
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += bytes(line)
    return header + palette + pixels + and_mask(rows)


def write_icon(name, images):
    """images: list of (size, colour count for the entry, bits per pixel, data)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, colours, bpp, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, _, data in images)
    with open(name, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    write_icon("tray.ico", [(16, 0, 32, image_32(picture(16, TEAL))), (32, 0, 32, image_32(picture(32, TEAL)))])
    write_icon("tray16.ico", [(16, 16, 4, image_4(picture(16, TEAL))), (32, 16, 4, image_4(picture(32, TEAL)))])
    write_icon("app.ico", [(32, 0, 32, image_32(picture(32, TEAL))), (16, 0, 32, image_32(picture(16, TEAL))),
                           (48, 0, 32, image_32(picture(48, TEAL)))])
