#!/usr/bin/env python3
"""Writes the embedded-file archive that the extraction tests carry as their own RCDATA 16000:
three entries (two jars and an empty file) in the launcher's archive format.   make_archive.py OUT
"""
import struct
import sys

ENTRIES = [
    ("a.jar", 0x01D9000011112222, b"first jar"),
    ("b.jar", 0x01D9000033334444, b"second jar, longer"),
    ("empty.txt", 0x01D9000055556666, b""),
]


def main():
    out = struct.pack("<I", len(ENTRIES))
    for name, time, data in ENTRIES:
        out += name.encode() + b"\0" + struct.pack("<III", time & 0xFFFFFFFF, time >> 32, len(data))
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
