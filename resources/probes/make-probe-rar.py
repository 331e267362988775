#!/usr/bin/env python3
"""Writes probe.rar: a RAR 4 archive holding one stored file, "probe.txt" ("probe\n").

No RAR creator ships with Debian, so the blocks are written by hand:
marker, main header, one file header with its data (method "store"), end of archive.
"""
import struct
import sys
import zlib


def block(head_type, flags, body):
    size = 7 + len(body)
    rest = struct.pack("<BHH", head_type, flags, size) + body
    return struct.pack("<H", zlib.crc32(rest) & 0xFFFF) + rest


def main(path):
    name = b"probe.txt"
    data = b"probe\n"
    dos_date = ((2024 - 1980) << 9) | (1 << 5) | 1  # 2024-01-01
    file_body = struct.pack(
        "<IIBIIBBHI",
        len(data),              # packed size
        len(data),              # unpacked size
        3,                      # host OS: Unix
        zlib.crc32(data),       # file CRC
        dos_date << 16,         # modification time, DOS format
        29,                     # version needed to extract: 2.9
        0x30,                   # method: store
        len(name),
        0o100644,               # Unix mode
    ) + name
    archive = (
        b"Rar!\x1a\x07\x00"
        + block(0x73, 0x0000, b"\x00" * 6)
        + block(0x74, 0x8000, file_body)  # 0x8000: packed data follows the header
        + data
        + block(0x7B, 0x4000, b"")
    )
    with open(path, "wb") as out:
        out.write(archive)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "probe.rar")
