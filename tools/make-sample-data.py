#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Makes the sample data set in sample/ from the plain sources in sample/src/:
the device list (CR LF line ends, as a Windows-made file), the help and safety texts
(Windows-1252, LF line ends, ending with a LF) and the firmware files the list names, all
in the storage encoding (the two 4-bit halves of every byte exchanged).

Usage: make-sample-data.py [SAMPLE_DIR]   (default: the sample/ folder beside tools/)
Needs only python3; the same encoding is what `ovk-codec encode` writes.
"""

import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

TEXTS = {
    "HelpGB.txt": "HelpGB.ovk",
    "HelpD.txt": "HelpD.ovk",
    "SecurityGB.txt": "SecurityGB.ovk",
    "SecurityD.txt": "SecurityD.ovk",
}


def load_firmware_module():
    loader_spec = importlib.util.spec_from_file_location("make_sample_firmware",
                                                  os.path.join(HERE, "make-sample-firmware.py"))
    module = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(module)
    return module


def text_lines(path):
    with open(path, encoding="utf-8") as source:
        text = source.read()
    lines = text.split("\n")
    while lines and lines[-1] == "":
        lines.pop()
    return lines


def write(path, data, encode):
    with open(path, "wb") as out:
        out.write(encode(data))
    print(f"wrote {path} ({len(data)} bytes)")


def main(argv):
    sample = argv[1] if len(argv) > 1 else os.path.join(HERE, "..", "sample")
    sample = os.path.normpath(sample)
    src = os.path.join(sample, "src")
    firmware = load_firmware_module()

    for source_name, target_name in TEXTS.items():
        lines = text_lines(os.path.join(src, source_name))
        data = ("\n".join(lines) + "\n").encode("cp1252")
        write(os.path.join(sample, target_name), data, firmware.encode)

    lines = text_lines(os.path.join(src, "devicelist.txt"))
    data = ("\r\n".join(lines) + "\r\n").encode("cp1252")
    write(os.path.join(sample, "devicelist.ovk"), data, firmware.encode)

    # Every firmware file the list names.
    for line in lines:
        if "#" not in line:
            continue
        fields = line.split("#", 1)[1].split(",")
        name = fields[4].strip()
        seed, ranges = firmware.FIRMWARES[name]
        write(os.path.join(sample, name), firmware.hex_text(seed, ranges), firmware.encode)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
