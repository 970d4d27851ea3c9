#!/usr/bin/env python3
"""Sets the fields of an installer's summary information that wixl fills with the moment and a
random number, so that the same sources give the same bytes:

    msi_summary.py INSTALLER.msi --package-code {GUID} --time EPOCH-SECONDS

The package code (the revision number, which Windows Installer takes for the package's identity)
and the times of creation and last save are rewritten in place, in the summary stream of the
installer's compound file; every other byte stays as it is. The values have the length of those
that they replace (a GUID in braces, a FILETIME), so nothing moves.
"""
import argparse
import struct
import sys
import uuid

FREESECT, ENDOFCHAIN = 0xFFFFFFFF, 0xFFFFFFFE
SUMMARY = "\x05SummaryInformation"
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
# FILETIME counts 100 ns from 1601-01-01; the Unix epoch is this many of them later.
UNIX_EPOCH_FILETIME = 116444736000000000


class CompoundFile:
    """Just enough of [MS-CFB] to find a stream's bytes in the file and rewrite them in place."""

    def __init__(self, data):
        self.data = data
        if data[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
            raise ValueError("not a compound file")
        shift, mini_shift = struct.unpack_from("<HH", data, 0x1E)
        self.sector_size, self.mini_size = 1 << shift, 1 << mini_shift
        (fat_count, directory_start, _, self.cutoff, mini_fat_start, _, difat_start,
         difat_count) = struct.unpack_from("<8I", data, 0x2C)
        fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
        sector = difat_start
        for _ in range(difat_count):
            entries = struct.unpack_from(f"<{self.sector_size // 4}I", data, self.offset(sector))
            fat_sectors += entries[:-1]
            sector = entries[-1]
        fat_sectors = [s for s in fat_sectors if s != FREESECT][:fat_count]
        self.fat = [entry for s in fat_sectors for entry in
                    struct.unpack_from(f"<{self.sector_size // 4}I", data, self.offset(s))]
        self.mini_fat = [entry for s in self.chain(mini_fat_start) for entry in
                         struct.unpack_from(f"<{self.sector_size // 4}I", data, self.offset(s))]
        self.entries = []
        for s in self.chain(directory_start):
            for position in range(self.offset(s), self.offset(s) + self.sector_size, 128):
                name_length, = struct.unpack_from("<H", data, position + 64)
                name = data[position:position + max(name_length - 2, 0)].decode("utf-16-le")
                start, size = struct.unpack_from("<IQ", data, position + 116)
                self.entries.append((name, start, size))
        root_start = self.entries[0][1]
        self.mini_stream = [self.offset(s) for s in self.chain(root_start)]

    def offset(self, sector):
        return (sector + 1) * self.sector_size

    def chain(self, sector, table=None):
        table = self.fat if table is None else table
        sectors = []
        while sector not in (ENDOFCHAIN, FREESECT):
            if len(sectors) > len(table):
                raise ValueError("a sector chain that loops")
            sectors.append(sector)
            sector = table[sector]
        return sectors

    def stream_offsets(self, name):
        """The file offset of each byte of the named stream, in order."""
        found = [(start, size) for entry, start, size in self.entries if entry == name]
        if len(found) != 1:
            raise ValueError(f"no single stream {name!r}")
        start, size = found[0]
        if size < self.cutoff:
            per = self.sector_size // self.mini_size
            places = [self.mini_stream[s // per] + (s % per) * self.mini_size
                      for s in self.chain(start, self.mini_fat)]
            unit = self.mini_size
        else:
            places, unit = [self.offset(s) for s in self.chain(start)], self.sector_size
        return [place + i for place in places for i in range(unit)][:size]


def property_places(stream):
    """Property id -> (type, offset of its value in the stream), for the first section."""
    section, = struct.unpack_from("<I", stream, 44)
    _, count = struct.unpack_from("<II", stream, section)
    places = {}
    for index in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * index)
        kind, = struct.unpack_from("<I", stream, section + offset)
        places[pid] = (kind & 0xFFFF, section + offset + 4)
    return places


def rewrite(path, package_code, seconds):
    with open(path, "rb") as installer:
        data = bytearray(installer.read())
    offsets = CompoundFile(data).stream_offsets(SUMMARY)
    stream = bytearray(data[o] for o in offsets)
    places = property_places(stream)
    filetime = struct.pack("<Q", UNIX_EPOCH_FILETIME + seconds * 10_000_000)
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        kind, at = places[pid]
        if kind != VT_FILETIME:
            raise ValueError(f"summary property {pid} is not a time")
        stream[at:at + 8] = filetime
    kind, at = places[PID_REVNUMBER]
    length, = struct.unpack_from("<I", stream, at)
    code = ("{" + str(package_code).upper() + "}").encode("ascii") + b"\0"
    if kind != VT_LPSTR or length != len(code):
        raise ValueError("the package code is not a GUID in braces")
    stream[at + 4:at + 4 + length] = code
    for offset, byte in zip(offsets, stream):
        data[offset] = byte
    with open(path, "wb") as installer:
        installer.write(data)


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("installer")
    parser.add_argument("--package-code", required=True, type=uuid.UUID)
    parser.add_argument("--time", required=True, type=int, help="seconds since 1970, UTC")
    args = parser.parse_args()
    rewrite(args.installer, args.package_code, args.time)
    return 0


if __name__ == "__main__":
    sys.exit(main())
