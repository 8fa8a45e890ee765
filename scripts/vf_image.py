#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Builds the firmware image that an update writes from a stored (nibble-exchanged) Intel HEX
file, and compares a flash unit's memory dump with it.

    vf_image.py compare FIRMWARE.hex MEMORY.bin            exit 0 when the memory equals the image
    vf_image.py image FIRMWARE.hex OUT.bin [--size BYTES]  write the image's first BYTES bytes
                                                           (default: all 131100)

Records after an end-of-file record still count, as they do for the updater.
"""
import sys

IMAGE_SIZE = 131100
BLANK = 0xFF


def decode_storage(data: bytes) -> bytes:
    """Undoes the storage encoding: the two 4-bit halves of every byte are exchanged."""
    return bytes(((b << 4) | (b >> 4)) & 0xFF for b in data)


def build_image(hex_text: str) -> bytearray:
    """Places the data records (segment * 16 + offset) in an image filled with 0xFF."""
    image = bytearray([BLANK]) * IMAGE_SIZE
    segment = 0
    for line in hex_text.splitlines():
        line = line.strip()
        if not line.startswith(":"):
            continue
        raw = bytes.fromhex(line[1:])
        count, offset, kind = raw[0], (raw[1] << 8) | raw[2], raw[3]
        payload = raw[4:4 + count]
        if sum(raw) & 0xFF:
            raise ValueError(f"checksum error in record {line!r}")
        if kind == 0x00:
            base = segment * 16 + offset
            for i, b in enumerate(payload):
                if base + i < IMAGE_SIZE:
                    image[base + i] = b
        elif kind == 0x02:
            segment = (payload[0] << 8) | payload[1]
    return image


def image_from_file(path: str) -> bytearray:
    with open(path, "rb") as f:
        return build_image(decode_storage(f.read()).decode("latin-1"))


def compare(firmware_path: str, memory_path: str):
    """(equal, message): the memory dump against the image's first len(memory) bytes."""
    image = image_from_file(firmware_path)
    with open(memory_path, "rb") as f:
        memory = f.read()
    if not memory:
        return False, "memory dump is empty"
    expected = image[:len(memory)]
    if len(memory) > len(image):
        return False, f"memory dump holds {len(memory)} bytes, the image {len(image)}"
    if memory == expected:
        return True, f"memory equals the firmware image ({len(memory)} bytes)"
    first = next(i for i in range(len(memory)) if memory[i] != expected[i])
    diff = sum(1 for a, b in zip(memory, expected) if a != b)
    return False, (f"memory differs from the firmware image in {diff} bytes, "
                   f"first at 0x{first:05X}")


def main(argv):
    if len(argv) == 4 and argv[1] == "compare":
        equal, message = compare(argv[2], argv[3])
        print(message)
        return 0 if equal else 1
    if argv[1:2] == ["image"] and len(argv) in (4, 6) and (len(argv) == 4 or argv[4] == "--size"):
        size = int(argv[5]) if len(argv) == 6 else IMAGE_SIZE
        with open(argv[3], "wb") as f:
            f.write(image_from_file(argv[2])[:size])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
