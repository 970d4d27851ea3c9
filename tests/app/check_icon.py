#!/usr/bin/env python3
"""Checks the program's icon: one 256 x 256 24-bit BMP image with its AND mask, mostly opaque.
usage: check_icon.py ICON_FILE"""
import struct
import sys

IMAGE_BYTES = 40 + 256 * 256 * 3 + 256 * 256 // 8  # header, colour bitmap, AND mask

if len(sys.argv) != 2:
    sys.exit(__doc__)
data = open(sys.argv[1], "rb").read()
problems = []
if len(data) != 22 + IMAGE_BYTES:
    problems.append("file of %d bytes, not one directory entry and the image" % len(data))
elif struct.unpack_from("<HHHBBBBHHII", data, 0) != (0, 1, 1, 0, 0, 0, 0, 1, 24, IMAGE_BYTES, 22):
    problems.append("icon directory is not one 256 x 256 24-bit image at offset 22")
elif struct.unpack_from("<IiiHHI", data, 22) != (40, 256, 512, 1, 24, 0):
    problems.append("bitmap header is not 256 x (2 x 256), 24 bits, BI_RGB")
elif sum(bin(byte).count("1") for byte in data[-256 * 256 // 8:]) > 256 * 256 // 10:
    problems.append("more than a tenth of the pixels are transparent")
print("\n".join("FAIL: " + text for text in problems) or "icon OK")
sys.exit(1 if problems else 0)
