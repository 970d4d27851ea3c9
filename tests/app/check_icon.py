#!/usr/bin/env python3
"""Checks the program's icon file: exactly one image, 256 x 256 at 24 bits per pixel, stored as a
BMP entry (colour bitmap plus AND mask), with every size field consistent with the data.

usage: check_icon.py [--make MAKE_ICON_SCRIPT] ICON_FILE
With --make the icon is first written by the given script, as the build does.
"""
import struct
import subprocess
import sys

XOR_BYTES = 256 * 256 * 3   # rows of 768 bytes, already 4-byte aligned
AND_BYTES = 256 * 256 // 8  # rows of 32 bytes, already 4-byte aligned
IMAGE_BYTES = 40 + XOR_BYTES + AND_BYTES

failures = []


def expect(condition, text):
    if not condition:
        failures.append(text)


def mask_bit(data, mask_offset, x, y_from_top):
    row = 255 - y_from_top  # rows run bottom-up
    byte = data[mask_offset + row * 32 + x // 8]
    return (byte >> (7 - x % 8)) & 1


def pixel(data, xor_offset, x, y_from_top):
    row = 255 - y_from_top
    at = xor_offset + row * 768 + x * 3
    blue, green, red = data[at:at + 3]
    return red, green, blue


def check(data):
    expect(len(data) >= 22, "file shorter than ICONDIR and one entry: %d bytes" % len(data))
    if failures:
        return
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    expect(reserved == 0, "ICONDIR reserved is %d, not 0" % reserved)
    expect(kind == 1, "ICONDIR type is %d, not 1 (icon)" % kind)
    expect(count == 1, "ICONDIR holds %d images, not exactly 1" % count)
    width, height, colours, pad, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6)
    expect(width == 0 and height == 0, "entry size bytes %d x %d, not 0 x 0 (256 x 256)" % (width, height))
    expect(colours == 0 and pad == 0, "entry colour count %d / reserved %d, not 0 / 0" % (colours, pad))
    expect(planes == 1, "entry planes %d, not 1" % planes)
    expect(bits == 24, "entry bit count %d, not 24" % bits)
    expect(size == IMAGE_BYTES, "entry says %d bytes, a 256 x 256 24-bit image with mask is %d" % (size, IMAGE_BYTES))
    expect(offset == 22, "image at offset %d, not 22 (right after the one entry)" % offset)
    expect(len(data) == offset + size, "file is %d bytes, the entry ends at %d" % (len(data), offset + size))
    if failures or len(data) < offset + 40:
        return
    (header_size, bmp_width, bmp_height, bmp_planes, bmp_bits, compression, image_size,
     _, _, used, important) = struct.unpack_from("<IiiHHIIiiII", data, offset)
    expect(data[offset:offset + 2] != b"\x89P", "the entry is a PNG, not a BMP")
    expect(header_size == 40, "BITMAPINFOHEADER size %d, not 40" % header_size)
    expect(bmp_width == 256, "bitmap width %d, not 256" % bmp_width)
    expect(bmp_height == 512, "bitmap height %d, not 512 (colour bitmap and mask)" % bmp_height)
    expect(bmp_planes == 1, "bitmap planes %d, not 1" % bmp_planes)
    expect(bmp_bits == 24, "bitmap bit count %d, not 24" % bmp_bits)
    expect(compression == 0, "bitmap compression %d, not BI_RGB" % compression)
    expect(image_size in (0, XOR_BYTES + AND_BYTES), "bitmap image size %d" % image_size)
    expect(used == 0 and important == 0, "a 24-bit bitmap has no colour table (%d, %d)" % (used, important))
    if failures:
        return
    xor_offset = offset + 40
    mask_offset = xor_offset + XOR_BYTES
    # The picture must be there, not an empty or a fully transparent square.
    opaque = sum(mask_bit(data, mask_offset, x, y) == 0 for y in range(256) for x in range(256))
    expect(opaque > 256 * 256 * 9 // 10, "only %d of 65536 pixels are opaque" % opaque)
    expect(mask_bit(data, mask_offset, 0, 0) == 1, "the top-left corner is not transparent")
    expect(mask_bit(data, mask_offset, 128, 128) == 0, "the centre is transparent")
    for x, y in ((0, 0), (255, 0), (0, 255), (255, 255)):
        expect(pixel(data, xor_offset, x, y) == (0, 0, 0),
               "transparent corner (%d, %d) is not black in the colour bitmap" % (x, y))
    colours_used = {pixel(data, xor_offset, x, y) for y in range(0, 256, 4) for x in range(0, 256, 4)}
    expect(len(colours_used) >= 5, "only %d colours in the picture" % len(colours_used))


def main(argv):
    args = argv[1:]
    if len(args) == 3 and args[0] == "--make":
        subprocess.run([sys.executable, args[1], args[2]], check=True)
        args = args[2:]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    with open(args[0], "rb") as icon:
        check(icon.read())
    for text in failures:
        print("FAIL: " + text)
    if failures:
        return 1
    print("icon OK: one 256 x 256 image, 24 bits per pixel, BMP with AND mask")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
