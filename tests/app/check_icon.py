#!/usr/bin/env python3
"""Checks the program's icon file: one 256 x 256 image at 24 bits per pixel, stored as a BMP entry
(colour bitmap plus AND mask) whose sizes agree with the data, with an opaque picture.

usage: check_icon.py [--make MAKE_ICON_SCRIPT] ICON_FILE   (--make: write it first, as the build does)
"""
import struct
import subprocess
import sys

XOR_BYTES, AND_BYTES = 256 * 256 * 3, 256 * 256 // 8


def problems(data):
    if len(data) < 62:
        return ["file of %d bytes" % len(data)]
    found = []
    directory = struct.unpack_from("<HHHBBBBHHII", data, 0)
    if directory != (0, 1, 1, 0, 0, 0, 0, 1, 24, 40 + XOR_BYTES + AND_BYTES, 22):
        found.append("icon directory %r is not one 256 x 256 24-bit BMP image at 22" % (directory,))
    if len(data) != 22 + 40 + XOR_BYTES + AND_BYTES:
        found.append("file of %d bytes does not end with the image" % len(data))
    header = struct.unpack_from("<IiiHHI", data, 22)
    if header != (40, 256, 512, 1, 24, 0):
        found.append("bitmap header %r is not 256 x (2 x 256), 24 bits, BI_RGB" % (header,))
    mask = data[22 + 40 + XOR_BYTES:]
    opaque = sum(8 - bin(byte).count("1") for byte in mask)
    if opaque < 256 * 256 * 9 // 10:
        found.append("only %d of 65536 pixels are opaque" % opaque)
    return found


def main(args):
    if len(args) == 3 and args[0] == "--make":
        subprocess.run([sys.executable, args[1], args[2]], check=True)
        args = args[2:]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    with open(args[0], "rb") as icon:
        found = problems(icon.read())
    for text in found:
        print("FAIL: " + text)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
