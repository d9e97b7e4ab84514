#!/usr/bin/env python3
"""Draws the updater's button glyphs and makes its button sounds, in the
working folder:
  ball_ok.bmp, ball_cancel.bmp  24 by 24, 32 bits per pixel with alpha,
                                uncompressed, bottom-up: a shaded ball with a
                                white tick (green) or cross (red), with soft
                                edges from 4x4 supersampling;
  ball_ok_150.bmp, ..._200.bmp  the same drawn at 36 by 36 and 48 by 48, for
                                150 % and 200 % (resources BALL_OK_150, ...);
  click.wav, over.wav           PCM, mono, 22,050 samples per second, 16 bits:
                                short decaying tones.
Run it again only to change them; the files are kept in the tree."""
import math
import struct

BASE = 24
SAMPLES = 4


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def ball(colour, strokes, size):
    """Rows top to bottom of (b, g, r, a), colour premultiplied by nothing;
    the strokes are given for the 24-pixel ball."""
    scale = size / BASE
    strokes = [tuple(c * scale for c in stroke) for stroke in strokes]
    centre, radius, width = size / 2, size / 2 - scale, 1.6 * scale
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            cover, acc = 0, [0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    px, py = x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES
                    d = math.hypot(px - centre, py - centre)
                    if d > radius:
                        continue
                    cover += 1
                    # Light from the top left.
                    shade = 1.15 - 0.55 * math.hypot(px - centre * 0.7, py - centre * 0.7) / radius
                    rgb = [min(255.0, c * shade) for c in colour]
                    if any(segment_distance(px, py, *s) < width for s in strokes):
                        rgb = [255.0, 255.0, 255.0]
                    acc = [a + c for a, c in zip(acc, rgb)]
            if cover == 0:
                row.append((0, 0, 0, 0))
                continue
            r, g, b = (int(round(c / cover)) for c in acc)
            row.append((b, g, r, round(255 * cover / SAMPLES ** 2)))
        rows.append(row)
    return rows


def write_bmp(name, rows):
    size = len(rows)
    pixels = b"".join(struct.pack("<4B", *px) for row in reversed(rows) for px in row)
    header = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(header)
    with open(name, "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + header + pixels)


def write_wav(name, frequency, milliseconds, volume):
    rate = 22050
    count = rate * milliseconds // 1000
    data = b"".join(
        struct.pack("<h", int(volume * 32767 * math.exp(-6.0 * i / count) * math.sin(2 * math.pi * frequency * i / rate)))
        for i in range(count))
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    with open(name, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", len(body)) + body)


TICK = [(6.5, 12.5, 10.5, 16.5), (10.5, 16.5, 17.5, 7.5)]
CROSS = [(8, 8, 16, 16), (16, 8, 8, 16)]
for suffix, size in (("", 24), ("_150", 36), ("_200", 48)):
    write_bmp("ball_ok%s.bmp" % suffix, ball((40, 170, 60), TICK, size))
    write_bmp("ball_cancel%s.bmp" % suffix, ball((200, 45, 40), CROSS, size))
write_wav("click.wav", 1800, 40, 0.5)
write_wav("over.wav", 1200, 25, 0.3)
