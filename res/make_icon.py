#!/usr/bin/env python3
"""Writes the program's icon: one 256 x 256 image at 24 bits per pixel, stored as a BMP entry.

The picture is an oscilloscope screen with a sine and a square wave on it, the two shapes the
generator is used for most. The strokes are bold because the system shrinks this one image down to
16 x 16 for the caption by picking single pixels.

With --small it writes the same picture for the web panel's favicon instead: 16 x 16, 32 x 32
and 64 x 64 images, each the average of the big one's pixels it covers, stored as PNG entries
(3 KB where the big icon takes 200 KB). Usage: make_icon.py [--small] OUTPUT.ico
"""
import math
import struct
import sys
import zlib

SIZE = 256
CORNER = 40  # radius of the screen's rounded corners; outside them the icon is transparent
BEZEL = 16   # width of the light rim around the screen

BACKGROUND = (18, 32, 44)
RIM = (150, 165, 175)
GRID = (40, 70, 84)
SINE = (70, 235, 110)
SQUARE = (250, 190, 40)


def inside_rounded(x, y, inset):
    """Whether pixel centre (x, y) lies inside the rounded square shrunk by `inset` pixels."""
    lo, hi = inset, SIZE - 1 - inset
    radius = CORNER - inset
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def blend(under, over, share):
    return tuple(round(u + (o - u) * share) for u, o in zip(under, over))


def sine_y(x):
    """Two periods across the screen, top half of it."""
    return 88 - 40 * math.sin((x - BEZEL) / (SIZE - 2 * BEZEL) * 4 * math.pi)


# The sine as points half a pixel apart, for the distance of a pixel to the curve.
SINE_POINTS = [(i / 2, sine_y(i / 2)) for i in range(2 * SIZE)]


def sine_distance(x, y):
    if y < 30 or y > 146:
        return SIZE
    nearby = SINE_POINTS[max(0, 2 * x - 28):2 * x + 29]
    return min(math.hypot(x - px, y - py) for px, py in nearby)


def square_distance(x, y):
    """Distance from (x, y) to a square wave with two periods in the lower half."""
    period = (SIZE - 2 * BEZEL) / 2
    high, low = 162, 214
    phase = (x - BEZEL) % period
    level = high if phase < period / 2 else low
    best = abs(y - level)
    # the vertical edges of the wave
    for k in range(3):
        for edge in (BEZEL + k * period, BEZEL + k * period + period / 2):
            if high <= y <= low:
                best = min(best, abs(x - edge))
            else:
                best = min(best, math.hypot(x - edge, min(abs(y - high), abs(y - low))))
    return best


def pixel(x, y):
    """Colour of pixel (x, y), y counted from the top, or None where the icon is transparent."""
    if not inside_rounded(x, y, 0):
        return None
    if not inside_rounded(x, y, BEZEL):
        return RIM
    colour = BACKGROUND
    if (x - BEZEL) % 32 == 0 or (y - BEZEL) % 32 == 0:
        colour = GRID
    # square wave below, sine wave above it; a soft edge of one pixel on each stroke
    distance = square_distance(x, y)
    if distance < 10:
        colour = blend(colour, SQUARE, min(1.0, 10 - distance))
    distance = sine_distance(x, y)
    if distance < 12:
        colour = blend(colour, SINE, min(1.0, 12 - distance))
    return colour


def icon_bytes():
    xor_rows = []
    and_rows = []
    for y in range(SIZE - 1, -1, -1):  # BMP rows run bottom-up
        xor_row = bytearray()
        mask_bits = []
        for x in range(SIZE):
            colour = pixel(x, y)
            if colour is None:
                xor_row += b"\0\0\0"
                mask_bits.append(1)
            else:
                red, green, blue = colour
                xor_row += bytes((blue, green, red))
                mask_bits.append(0)
        xor_rows.append(bytes(xor_row))  # 768 bytes: already a multiple of 4
        mask_row = bytearray()
        for i in range(0, SIZE, 8):
            byte = 0
            for bit in mask_bits[i:i + 8]:
                byte = (byte << 1) | bit
            mask_row.append(byte)
        and_rows.append(bytes(mask_row))  # 32 bytes: already a multiple of 4
    xor_bitmap = b"".join(xor_rows)
    and_mask = b"".join(and_rows)
    # BITMAPINFOHEADER: the height counts the colour bitmap and the mask together
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 24, 0,
                         len(xor_bitmap) + len(and_mask), 0, 0, 0, 0)
    image = header + xor_bitmap + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    # width and height bytes 0 mean 256
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 24, len(image), 6 + 16)
    return icondir + entry + image


def small_rgba(pixels, size):
    """The picture at size x size (a divisor of SIZE) as RGBA rows, top row first: each pixel the
    average of the block it covers, transparent in the share of the block that is."""
    block = SIZE // size
    rows = []
    for top in range(0, SIZE, block):
        row = bytearray()
        for left in range(0, SIZE, block):
            covered = [pixels[y][x] for y in range(top, top + block)
                       for x in range(left, left + block) if pixels[y][x] is not None]
            if not covered:
                row += b"\0\0\0\0"
                continue
            row += bytes(round(sum(c[i] for c in covered) / len(covered)) for i in range(3))
            row.append(round(255 * len(covered) / (block * block)))
        rows.append(bytes(row))
    return rows


def png_bytes(rows, size):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    # 8 bits per channel, RGBA, no interlace; every row without a filter
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    image = zlib.compress(b"".join(b"\0" + row for row in rows), 9)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", image) +
            chunk(b"IEND", b""))


def small_icon_bytes():
    pixels = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    images = [(size, png_bytes(small_rgba(pixels, size), size)) for size in (16, 32, 64)]
    entries = b""
    offset = 6 + 16 * len(images)
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return (struct.pack("<HHH", 0, 1, len(images)) + entries +
            b"".join(image for _, image in images))


def main(argv):
    small = argv[1:2] == ["--small"]
    if len(argv) != 2 + small:
        sys.stderr.write("usage: make_icon.py [--small] OUTPUT.ico\n")
        return 2
    with open(argv[-1], "wb") as out:
        out.write(small_icon_bytes() if small else icon_bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
