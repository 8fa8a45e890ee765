#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Benchmark: several paced units updated at the same time through `varnoflex-cli --all`.

For N = 1, 2, 4 and 8 it presents N emulated FTDI converters (vf-testbed --unit), each with a
simulated unit that takes every byte's wire time (--pace), lists them all in the device list,
runs one `varnoflex-cli -y --all` and prints per N:
  wall     the whole --all run, from starting varnoflex-cli to its end
  wall/1   wall(N) / wall(1): what running N units side by side costs in time
  unit     the mean of the units' own durations from the --json report
  CPU      user + system time of varnoflex-cli and its N children, per unit and as a share of
           the wall time (the simulated units and the testbed are not counted)
  bed      CPU time of the testbed (umockdev's emulation of the converters and the N simulated
           units) as a share of one core over the wall time: the load the bench itself adds
  conv     with --ft232r (each unit behind the modelled FT232R of its converter, the timer as
           the program's low-latency request sets it): the mean time a unit's converter held
           its replies back, and its share of the wall time
Every run must end with exit status 0 and every unit with OK_UPDATE_FINISHED (and, with
--ft232r, every converter at 1 ms); otherwise the benchmark stops with the output of the
failed run.

usage: bench-all.py [--runs R] [--units 1,2,4,8] [--end-address HEX] [--ft232r]
Environment: VF_LINUX_BUILD (default build), VF_SAMPLE_DIR (default sample).
"""
import argparse
import json
import os
import resource
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
FIRMWARE = "VX58PRO_V214.hex"

# Run under the testbed: starts varnoflex-cli, waits for it, and prints its wall time and the
# CPU time of it and every process it waited for (its children), as one JSON line on stderr.
MEASURE = """
import json, resource, subprocess, sys, time
start = time.monotonic()
status = subprocess.run(sys.argv[1:]).returncode
wall = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print(json.dumps({"status": status, "wall": wall, "cpu": usage.ru_utime + usage.ru_stime}), file=sys.stderr)
sys.exit(status)
"""


def swap_halves(data):
    """The storage encoding exchanges the two halves of every byte (its own inverse)."""
    return bytes(((b << 4) | (b >> 4)) & 0xFF for b in data)


def serial_of(index):
    return f"FTVFB{index:03d}"


def prepare(folder, count):
    for name in os.listdir(SAMPLE):
        if name.endswith((".ovk", ".hex")):
            shutil.copy(os.path.join(SAMPLE, name), folder)
    lines = ["varnoflex device list for the bench benchmark"]
    lines += [f"#VX-B{i:02d},Bench,{serial_of(i)},1.00,{FIRMWARE}" for i in range(count)]
    with open(os.path.join(folder, "devicelist.ovk"), "wb") as out:
        out.write(swap_halves(("\r\n".join(lines) + "\r\n").encode("cp1252")))


def converter_held_seconds(record, fail):
    """What the unit's modelled converter held back (its record's last "converter:" line)."""
    with open(record) as lines:
        for line in lines:
            if line.startswith("converter: FT232R, "):
                words = line.split()
                if words[4] != "1":   # "converter: FT232R, latency timer 1 ms;"
                    fail(f"the converter ran at {words[4]} ms, not at the 1 ms the program asks for")
                return float(words[words.index("held") + 1]) / 1000.0
    fail(f"no converter line in {record}")
    return 0.0


def run_once(count, end_address, ft232r):
    with tempfile.TemporaryDirectory(prefix="vf-bench-all-") as folder:
        prepare(folder, count)
        testbed = [TESTBED]
        for i in range(count):
            testbed += ["--unit", serial_of(i), "--pace", "--end-address", end_address]
            if ft232r:
                testbed += ["--ft232r", "--record", os.path.join(folder, f"record-{i}.txt")]
        command = testbed + ["--", sys.executable, "-c", MEASURE, CLI, "-y", "--language", "en", "--all",
                             "--json", "report.json"]
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        result = subprocess.run(command, cwd=folder, capture_output=True, text=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        everything = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        measured = None
        for line in result.stderr.splitlines():
            if line.startswith("{\"status\""):
                measured = json.loads(line)
        if result.returncode != 0 or measured is None:
            sys.exit(f"bench-all: the run with {count} units failed (status {result.returncode}):\n"
                     + result.stdout + result.stderr)
        with open(os.path.join(folder, "report.json")) as report_file:
            units = json.load(report_file)["units"]
        if len(units) != count or any(u["result"]["code"] != 23 for u in units):
            sys.exit(f"bench-all: not every unit finished with {count} units:\n" + result.stdout)
        unit_mean = sum(u["durationSeconds"] for u in units) / count
        held = 0.0
        if ft232r:
            def fail(message):
                sys.exit(f"bench-all: {count} units: {message}\n" + result.stdout)
            held = sum(converter_held_seconds(os.path.join(folder, f"record-{i}.txt"), fail)
                       for i in range(count)) / count
        return measured["wall"], measured["cpu"], unit_mean, everything - measured["cpu"], held


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=1, help="runs per N (the mean is shown)")
    parser.add_argument("--units", default="1,2,4,8", help="the values of N")
    parser.add_argument("--end-address", default="1FFFF", help="the units' end address (1FFFF: 512 blocks)")
    parser.add_argument("--ft232r", action="store_true", help="every unit behind the modelled FT232R")
    args = parser.parse_args()
    counts = [int(n) for n in args.units.split(",")]
    for program in (CLI, TESTBED):
        if not os.access(program, os.X_OK):
            sys.exit(f"bench-all: {program} is not built")

    print(f"{'N':>3} {'wall s':>8} {'wall/1':>7} {'unit s':>8} {'CPU/unit s':>11} {'CPU/wall/unit':>14} "
          f"{'bed CPU/wall':>13}" + (f" {'conv s':>7} {'conv/wall':>10}" if args.ft232r else "") + f" {'load':>5}")
    first_wall = None
    load_before = os.getloadavg()[0]
    for count in counts:
        results = [run_once(count, args.end_address, args.ft232r) for _ in range(args.runs)]
        wall = sum(r[0] for r in results) / len(results)
        cpu = sum(r[1] for r in results) / len(results)
        unit = sum(r[2] for r in results) / len(results)
        bed = sum(r[3] for r in results) / len(results)
        held = sum(r[4] for r in results) / len(results)
        if first_wall is None:
            first_wall = wall
        cpu_per_unit = cpu / count
        print(f"{count:>3} {wall:>8.2f} {wall / first_wall:>7.3f} {unit:>8.2f} {cpu_per_unit:>11.3f} "
              f"{100.0 * cpu_per_unit / wall:>13.2f}% {100.0 * bed / wall:>12.1f}%"
              + (f" {held:>7.3f} {100.0 * held / wall:>9.2f}%" if args.ft232r else "")
              + f" {os.getloadavg()[0]:>5.2f}", flush=True)
    print(f"runs per N: {args.runs}; wall/1 is against N = {counts[0]}; CPU counts varnoflex-cli and its "
          "children, not the simulated units")
    # Other work on the machine delays every wake-up of the units and the updaters alike.
    print(f"load average (1 min) before: {load_before:.2f}, after: {os.getloadavg()[0]:.2f} "
          f"on {os.cpu_count()} cores")


if __name__ == "__main__":
    main()
