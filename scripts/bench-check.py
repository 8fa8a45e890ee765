#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Benchmark: the check (`varnoflex-cli --check`) and the update where it is needed
(`--skip-current`) against the paced simulated unit (vf-testbed --pace: every byte takes its
wire time), 512 blocks, the sample list's first entry. One row per case:

  check, holds        a unit holding the firmware: identification, checksum, verify pass
  check, differs      a unit with older firmware: identification and checksum only
  update              a plain update of a unit with older firmware
  skip-current, differs   the same unit with --skip-current: the check, then the update
  all --skip-current  four units at once (--all), two holding their firmware, two with older
                      firmware: two checks that hold beside two checks and updates

  wall     the program's run, from its start to its end
  floor    what the line and the protocol's fixed pauses cost at the least (below); for
           the update rows none is printed (bench-cli.sh gives the update's)
  ratio    wall / floor
  report   durationSeconds of the --json report (the run after the safety instructions; for
           --all the longest unit's)

The floor of a check: the pauses the host must keep (200 ms after opening the port, the 5 ms
before every frame, 15 ms for the connect, 100 ms after the speed switch, 50 ms before the
verify command) and the wire time (10 bits a byte) of every frame and reply that the host
must wait for: at 9600 baud the connect and the first speed command with their answers, at
115200 the rest; the two single wake-up bytes cross the line during the pauses. The check
that holds adds the checksum, the verify command and 512 blocks of 260 bytes with their
6-byte acknowledgements.

usage: bench-check.py [--runs R]
Environment: VF_LINUX_BUILD (default build), VF_SAMPLE_DIR (default sample).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BUILD = os.environ.get("VF_LINUX_BUILD", os.path.join(ROOT, "build"))
SAMPLE = os.environ.get("VF_SAMPLE_DIR", os.path.join(ROOT, "sample"))
CLI = os.path.join(BUILD, "cli", "varnoflex-cli")
TESTBED = os.path.join(BUILD, "sim", "vf-testbed")
IMAGE_TOOL = os.path.join(HERE, "vf_image.py")
FIRMWARE = "VX58PRO_V214.hex"

BLOCKS = 512
BITS_PER_BYTE = 10
SLOW, FAST = 9600, 115200
FRAME_PAUSE_S = 0.005
# Identification: the pauses (open, connect's three, two speed commands, the settling after
# the switch, information and extra information) and the exchanges the host waits for.
IDENTIFY_PAUSES_S = 0.200 + 3 * FRAME_PAUSE_S + FRAME_PAUSE_S + 0.100 + 3 * FRAME_PAUSE_S
IDENTIFY_SLOW_BYTES = 5 + 5 + 9 + 1          # connect and ack, speed command and its byte
INFO_REPLY_BYTES = 2 + 9 + len("VF-SIM FLASH") + 2
IDENTIFY_FAST_BYTES = (9 + 5) + (5 + 5 + INFO_REPLY_BYTES) + (5 + 5 + 2 + 10 + 2)
CHECKSUM_BYTES = 11 + 5 + 6                  # the command, its ack and the checksum reply
VERIFY_BYTES = 11 + 5
VERIFY_PAUSE_S = 0.050
BLOCK_BYTES = 260 + 6


def wire(count, baud):
    return count * BITS_PER_BYTE / baud


def floor_differs():
    return (IDENTIFY_PAUSES_S + wire(IDENTIFY_SLOW_BYTES, SLOW) + wire(IDENTIFY_FAST_BYTES, FAST)
            + FRAME_PAUSE_S + wire(CHECKSUM_BYTES, FAST))


def floor_holds():
    return (floor_differs() + FRAME_PAUSE_S + VERIFY_PAUSE_S + wire(VERIFY_BYTES, FAST)
            + BLOCKS * (FRAME_PAUSE_S + wire(BLOCK_BYTES, FAST)))


# --all: the sample list's three entries and a test rig's, each unit's options after it.
ALL_UNITS = [("FTVF2Q7K", "holds"), ("FTVF8H3N", "older"), ("FTVF5M9R", "older"), ("FTVF0TST", "holds")]


def run(folder, unit, *options):
    command = [TESTBED, *unit, "--", CLI, "-y", "--language", "en", "--json", "report.json", *options]
    start = time.monotonic()
    result = subprocess.run(command, cwd=folder, capture_output=True, text=True)
    wall = time.monotonic() - start
    with open(os.path.join(folder, "report.json")) as report:
        units = json.load(report)["units"]
    return result, wall, max(unit["durationSeconds"] for unit in units)


def add_test_rig_entry(folder):
    sys.path.insert(0, HERE)
    import vf_image
    path = os.path.join(folder, "devicelist.ovk")
    with open(path, "rb") as stored:
        listed = vf_image.decode_storage(stored.read())
    listed += b"#VX-90 Test,Test Rig,FTVF0TST,9.99,VX58PRO_V214.hex\r\n"
    with open(path, "wb") as stored:
        stored.write(vf_image.decode_storage(listed))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=1)
    args = parser.parse_args()
    for program in (CLI, TESTBED):
        if not os.access(program, os.X_OK):
            sys.exit(f"bench-check: {program} is not built")

    with tempfile.TemporaryDirectory(prefix="vf-bench-check-") as folder:
        for name in os.listdir(SAMPLE):
            if name.endswith((".ovk", ".hex")):
                shutil.copy(os.path.join(SAMPLE, name), folder)
        subprocess.run([sys.executable, IMAGE_TOOL, "image", os.path.join(SAMPLE, FIRMWARE),
                        os.path.join(folder, "holds.bin"), "--size", str(BLOCKS * 256)], check=True)
        add_test_rig_entry(folder)
        holding, older = ["--pace", "--memory-in", "holds.bin"], ["--pace", "--old-firmware"]
        bench = []
        for serial, state in ALL_UNITS:
            bench += ["--unit", serial] + (holding if state == "holds" else older)
        cases = [
            ("check, holds", holding, ["--check"], 0, floor_holds()),
            ("check, differs", older, ["--check"], 24, floor_differs()),
            ("update", older, [], 0, None),
            ("skip-current, differs", older, ["--skip-current"], 0, None),
            ("all --skip-current", bench, ["--all", "--skip-current"], 0, None),
        ]
        load_before = os.getloadavg()[0]
        print(f"{'case':<22} {'wall s':>8} {'floor s':>8} {'ratio':>7} {'report s':>9}")
        walls = {}
        for _ in range(args.runs):
            for name, unit, options, status, floor in cases:
                result, wall, report_seconds = run(folder, unit, *options)
                if result.returncode != status:
                    sys.exit(f"bench-check: {name} ended with {result.returncode}, not {status}:\n"
                             + result.stdout[-2000:] + result.stderr[-2000:])
                walls.setdefault(name, []).append(wall)
                floor_text = f"{floor:>8.3f} {wall / floor:>7.3f}" if floor else f"{'-':>8} {'-':>7}"
                print(f"{name:<22} {wall:>8.3f} {floor_text} {report_seconds:>9.3f}", flush=True)
        mean = {name: sum(values) / len(values) for name, values in walls.items()}
        print(f"skip-current on a unit that differs costs {mean['skip-current, differs'] - mean['update']:.3f} s "
              f"more than the update alone (means over {args.runs} run(s))")
        print(f"--all --skip-current over four units (two current) takes {mean['all --skip-current'] / mean['skip-current, differs']:.3f} "
              f"times the --skip-current update of one unit that differs")
        print(f"load average (1 min) before: {load_before:.2f}, after: {os.getloadavg()[0]:.2f} "
              f"on {os.cpu_count()} cores")


if __name__ == "__main__":
    main()
