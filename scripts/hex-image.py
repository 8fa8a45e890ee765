#!/usr/bin/env python3
"""Writes the memory image that a firmware file should leave in a flash unit, for tests that
compare a simulated unit's memory with it.

usage: hex-image.py FIRMWARE OUT [--size BYTES] [--plain]

FIRMWARE is an Intel HEX file in the storage encoding (the two 4-bit halves of every byte
exchanged) unless --plain is given. Data records (type 00) are placed at segment x 16 +
address, with the segment from extended segment address records (type 02), into an image
of 131,100 bytes filled with 0xFF; bytes beyond it are dropped. The first BYTES bytes of the
image (default 131,072, a unit with end address 0x1FFFF) are written to OUT.
"""
import argparse
import sys

IMAGE_SIZE = 131100


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("firmware")
    parser.add_argument("out")
    parser.add_argument("--size", type=int, default=131072)
    parser.add_argument("--plain", action="store_true")
    args = parser.parse_args()

    raw = open(args.firmware, "rb").read()
    if not args.plain:
        raw = bytes(((b << 4) | (b >> 4)) & 0xFF for b in raw)
    image = bytearray(b"\xff" * IMAGE_SIZE)
    segment = 0
    for number, line in enumerate(raw.decode("ascii").splitlines(), 1):
        line = line.strip()
        if not line.startswith(":"):
            continue
        record = bytes.fromhex(line[1:])
        length, address, kind = record[0], int.from_bytes(record[1:3], "big"), record[3]
        data = record[4:4 + length]
        if len(data) != length or sum(record) & 0xFF:
            sys.exit(f"hex-image: bad record on line {number}")
        if kind == 0x00:
            for i, byte in enumerate(data):
                position = segment * 16 + address + i
                if position < IMAGE_SIZE:
                    image[position] = byte
        elif kind == 0x02:
            segment = int.from_bytes(data, "big")
        elif kind == 0x01:
            break
    with open(args.out, "wb") as out:
        out.write(bytes(image[:args.size]))


if __name__ == "__main__":
    main()
