#!/usr/bin/env python3
"""Drops the zero bytes at the end of each section of a PE image file.

    trim_zero_tails.py IMAGE

The linker stores a section's zero-initialised tail in the file. The loader
fills everything between a section's raw data and its virtual size with
zeros anyway, so whole file blocks of trailing zeros can go: the image
loads exactly as before. Sections keep their order; the checksum is
recomputed when the linker wrote one. Running it twice changes nothing.
"""

import struct
import sys

DOS_NEW_HEADER_OFFSET = 0x3C
COFF_HEADER_SIZE = 20
SECTION_HEADER_SIZE = 40
PE32_MAGIC = 0x10B
# Offsets inside the PE32 optional header.
SIZE_OF_INITIALIZED_DATA = 8
FILE_ALIGNMENT = 36
SIZE_OF_HEADERS = 60
CHECKSUM = 64
DATA_DIRECTORIES = 96
# Data directories whose entries hold file offsets rather than addresses.
CERTIFICATE_DIRECTORY = 4
DEBUG_DIRECTORY = 6
SCN_CNT_INITIALIZED_DATA = 0x40


class ImageError(Exception):
    pass


def pe_checksum(data):
    """The optional header's checksum of data, whose checksum field is 0."""
    total = 0
    for (word,) in struct.iter_unpack("<H", data + b"\0" * (len(data) % 2)):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def trim(data):
    pe = struct.unpack_from("<I", data, DOS_NEW_HEADER_OFFSET)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ImageError("not a PE image")
    count, = struct.unpack_from("<H", data, pe + 6)
    symbols, = struct.unpack_from("<I", data, pe + 12)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 4 + COFF_HEADER_SIZE
    if struct.unpack_from("<H", data, optional)[0] != PE32_MAGIC:
        raise ImageError("not a PE32 image")
    if symbols:
        raise ImageError("image has a COFF symbol table")
    for directory in (CERTIFICATE_DIRECTORY, DEBUG_DIRECTORY):
        if struct.unpack_from("<II", data, optional + DATA_DIRECTORIES + 8 * directory)[1]:
            raise ImageError("image has a data directory that points into the file")
    alignment, = struct.unpack_from("<I", data, optional + FILE_ALIGNMENT)
    headers_size, = struct.unpack_from("<I", data, optional + SIZE_OF_HEADERS)
    table = optional + optional_size

    out = bytearray(data[:headers_size])
    position = headers_size
    removed_initialized = 0
    end_of_sections = headers_size
    for index in range(count):
        entry = table + SECTION_HEADER_SIZE * index
        raw_size, raw_pointer = struct.unpack_from("<II", data, entry + 16)
        characteristics, = struct.unpack_from("<I", data, entry + 36)
        if raw_size == 0:
            continue
        if raw_pointer != end_of_sections:
            raise ImageError("sections are not stored back to back")
        end_of_sections = raw_pointer + raw_size
        raw = data[raw_pointer:raw_pointer + raw_size]
        kept = len(raw.rstrip(b"\0"))
        kept = (kept + alignment - 1) // alignment * alignment
        if characteristics & SCN_CNT_INITIALIZED_DATA:
            removed_initialized += raw_size - kept
        struct.pack_into("<II", out, entry + 16, kept, position if kept else 0)
        out += raw[:kept]
        position += kept
    out += data[end_of_sections:]

    initialized, = struct.unpack_from("<I", out, optional + SIZE_OF_INITIALIZED_DATA)
    struct.pack_into("<I", out, optional + SIZE_OF_INITIALIZED_DATA,
                     max(0, initialized - removed_initialized))
    if struct.unpack_from("<I", data, optional + CHECKSUM)[0]:
        struct.pack_into("<I", out, optional + CHECKSUM, 0)
        struct.pack_into("<I", out, optional + CHECKSUM, pe_checksum(bytes(out)))
    return bytes(out)


def main(argv):
    if len(argv) != 1:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    path = argv[0]
    with open(path, "rb") as f:
        data = f.read()
    try:
        trimmed = trim(data)
    except (ImageError, struct.error) as error:
        print("trim_zero_tails: %s: %s" % (path, error), file=sys.stderr)
        return 1
    if trimmed != data:
        with open(path, "wb") as f:
            f.write(trimmed)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
