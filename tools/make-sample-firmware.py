#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Makes the sample firmware files: Intel HEX text with 32 data bytes per record,
upper-case digits, CR LF line ends, extended segment address records ("02") to reach
beyond 64 KiB and an end-of-file record. The content is deterministic pseudo-random data
(SHA-256 of the file's seed and the address), so every 256-byte block differs and the
files come out the same on every run.

Usage: make-sample-firmware.py NAME OUT [--plain]
  NAME   one of the firmware names in FIRMWARES below
  OUT    output path ("-" for stdout)
  --plain  write the HEX text as it is; without it the file gets the storage encoding
           (the two 4-bit halves of every byte exchanged) that the updater reads.
"""

import hashlib
import sys

RECORD_DATA_BYTES = 32
SEGMENT_SPAN = 0x10000

# name -> (seed, list of (first address, last address)), addresses inclusive,
# both ends aligned to 32 bytes so that no record crosses a 64 KiB boundary.
FIRMWARES = {
    # VX-58 Pro: a 128 KiB device, firmware up to 0x1A3FF with two unused gaps.
    "VX58PRO_V214.hex": ("VX-58 Pro 2.14", [(0x00000, 0x0BFFF), (0x0C800, 0x173FF), (0x17800, 0x1A3FF)]),
    # VX-36 Compact: a smaller firmware in the first 32 KiB.
    "VX36C_V107.hex": ("VX-36 Compact 1.07", [(0x00000, 0x07FFF)]),
    # VX-44 Macro Ring: below 64 KiB, a code part and a small table apart from it.
    "VX44MR_V302.hex": ("VX-44 Macro Ring 3.02", [(0x00000, 0x0D3FF), (0x0E000, 0x0E0FF)]),
}


def content(seed, address):
    """The 32 data bytes at address (a multiple of 32)."""
    return hashlib.sha256(f"{seed}:{address:05X}".encode("ascii")).digest()


def record(count_type_address, data):
    length, address, rtype = count_type_address
    body = bytes([length, (address >> 8) & 0xFF, address & 0xFF, rtype]) + data
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper() + "\r\n"


def segment_record(segment):
    return record((2, 0, 0x02), bytes([segment >> 8, segment & 0xFF]))


def hex_text(seed, ranges):
    lines = [segment_record(0)]
    segment_base = 0
    for first, last in ranges:
        assert first % RECORD_DATA_BYTES == 0 and (last + 1) % RECORD_DATA_BYTES == 0
        for address in range(first, last + 1, RECORD_DATA_BYTES):
            base = address - address % SEGMENT_SPAN
            if base != segment_base:
                segment_base = base
                lines.append(segment_record(base >> 4))
            data = content(seed, address)
            lines.append(record((len(data), address - segment_base, 0x00), data))
    lines.append(":00000001FF\r\n")
    return "".join(lines).encode("ascii")


def encode(data):
    return bytes(((b << 4) | (b >> 4)) & 0xFF for b in data)


def main(argv):
    args = [a for a in argv[1:] if a != "--plain"]
    plain = "--plain" in argv[1:]
    if len(args) != 2 or args[0] not in FIRMWARES:
        sys.stderr.write(__doc__)
        sys.stderr.write("names: " + ", ".join(FIRMWARES) + "\n")
        return 2
    seed, ranges = FIRMWARES[args[0]]
    data = hex_text(seed, ranges)
    if not plain:
        data = encode(data)
    if args[1] == "-":
        sys.stdout.buffer.write(data)
    else:
        with open(args[1], "wb") as out:
            out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
