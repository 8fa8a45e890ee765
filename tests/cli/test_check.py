# SPDX-License-Identifier: MIT
"""varnoflex-cli --check and --skip-current against the simulated unit behind vf-testbed: the
verdict, its exit status and report, and that the unit's memory is never touched by a check
(the unit's own record: no blank check, erase, program mode or write block; memory byte for
byte as it was). Every run happens in a temporary copy of the sample data set.

Environment: VF_CLI, VF_TESTBED, VF_SAMPLE_DIR, VF_IMAGE_TOOL (as for test_cli.py).
"""
import importlib.util
import json
import os
import re
import shutil
import signal
import subprocess

import pytest

CLI = os.environ["VF_CLI"]
TESTBED = os.environ["VF_TESTBED"]
SAMPLE = os.environ["VF_SAMPLE_DIR"]
IMAGE_TOOL = os.environ["VF_IMAGE_TOOL"]
TIMEOUT_S = 120
MEMORY_BYTES = 131072                # the simulated unit's default range: 512 blocks
FIRMWARE_A = "VX58PRO_V214.hex"      # the first entry's (FTVF2Q7K)
FIRMWARE_B = "VX44MR_V302.hex"       # the third entry's, another firmware for the same range
EXIT_DIFFERS = 24
EXIT_CHECK_FAILED = 25
EXIT_INTERRUPTED = 130
# What a check must never send: blank check, erase and program mode frames, write blocks.
WRITING = ("frame 01 07 32 ", "frame 01 07 20 ", "frame 01 07 40 ", "block write ")


def load_image_tool():
    found = importlib.util.spec_from_file_location("vf_image", IMAGE_TOOL)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


vf_image = load_image_tool()


@pytest.fixture
def data(tmp_path):
    for name in os.listdir(SAMPLE):
        if name.endswith((".ovk", ".hex")):
            shutil.copy(os.path.join(SAMPLE, name), tmp_path)
    return tmp_path


def run_cli(cwd, testbed, *args, env=None):
    command = [TESTBED, *testbed, "--", CLI, "-y", "--language", "en", *args]
    full_env = {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "LANG"))}
    full_env.update(env or {})
    return subprocess.run(command, cwd=cwd, env=full_env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=TIMEOUT_S)


def image_of(firmware):
    return bytes(vf_image.image_from_file(os.path.join(SAMPLE, firmware))[:MEMORY_BYTES])


def check_value(memory):
    """The two's complement of the 16-bit sum of the bytes: the unit's checksum."""
    return -sum(memory) & 0xFFFF


def name_firmware_for_first_entry(data, firmware):
    listed = vf_image.decode_storage((data / "devicelist.ovk").read_bytes())
    listed = listed.replace(FIRMWARE_A.encode(), firmware.encode(), 1)
    (data / "devicelist.ovk").write_bytes(vf_image.decode_storage(listed))


def record_of(data, name="record.txt"):
    return (data / name).read_text().splitlines()


def assert_nothing_written(record):
    sent = [line for line in record if line.startswith(WRITING)]
    assert not sent, sent
    assert not [line for line in record if "VIOLATION" in line]


def report_unit(data):
    report = json.loads((data / "report.json").read_text())
    [unit] = report["units"]
    return unit


def test_check_says_holds_or_differs_and_touches_nothing(data):
    # A unit updated with firmware A, as the update leaves it.
    updated = run_cli(data, ["--memory-out", "a.bin"])
    assert updated.returncode == 0, updated.stdout + updated.stderr
    memory = (data / "a.bin").read_bytes()
    assert memory == image_of(FIRMWARE_A)

    holds = run_cli(data, ["--memory-in", "a.bin", "--memory-out", "after-a.bin", "--record", "record.txt"],
                    "--check", "--serial", "FTVF2Q7K", "--json", "report.json", "--trace", "trace.txt")
    assert holds.returncode == 0, holds.stdout + holds.stderr
    lines = holds.stdout.splitlines()
    assert "Holds firmware 2.14 (VX58PRO_V214.hex)" in lines
    assert lines.index("Comparing 100 %") < lines.index("Holds firmware 2.14 (VX58PRO_V214.hex)")
    assert "Writing" not in holds.stdout and "Errorcode" not in holds.stdout
    assert (data / "after-a.bin").read_bytes() == memory
    record = record_of(data)
    assert_nothing_written(record)
    assert "check: verify pass ended; every block equal to the memory" in record
    assert sum(1 for line in record if line.startswith("block verify ")) == 512
    unit = report_unit(data)
    assert unit["check"] == {"verdict": "holds", "failure": None, "blocks": 512,
                             "deviceChecksum": check_value(memory), "imageChecksum": check_value(memory),
                             "blocksVerified": 512, "refusedBlock": None, "unansweredBlock": None}
    assert (unit["result"], unit["stored"], unit["exitStatus"], unit["leftAlone"]) == (None, [], 0, False)
    assert (unit["blocksWritten"], unit["blocksVerified"]) == (0, 512)
    # The trace shows the check as the unit saw it: the checksum, the verify command, blocks.
    trace = (data / "trace.txt").read_text()
    assert "write 11: 01 07 B0 00 00 00 01 FF FF 4A 03" in trace
    assert "write 11: 01 07 13 00 00 00 01 FF FF E7 03" in trace
    assert trace.count("write 260: ") == 512

    # The same unit against a list naming firmware B: the checksums differ, and the check
    # ends there (no verify command).
    name_firmware_for_first_entry(data, FIRMWARE_B)
    differs = run_cli(data, ["--memory-in", "a.bin", "--memory-out", "after-b.bin", "--record", "record.txt"],
                      "--check", "--json", "report.json")
    assert differs.returncode == EXIT_DIFFERS, differs.stdout + differs.stderr
    image_b = check_value(image_of(FIRMWARE_B))
    assert (f"Differs from firmware 2.14 (VX44MR_V302.hex): checksum 0x{check_value(memory):04X} "
            f"in the unit, 0x{image_b:04X} of the file") in differs.stdout.splitlines()
    assert (data / "after-b.bin").read_bytes() == memory
    record = record_of(data)
    assert_nothing_written(record)
    assert not [line for line in record if line.startswith(("frame 01 07 13 ", "block "))]
    check = report_unit(data)["check"]
    assert (check["verdict"], check["deviceChecksum"], check["imageChecksum"]) == ("differs", check_value(memory), image_b)
    assert (check["blocksVerified"], check["refusedBlock"]) == (0, None)
    assert report_unit(data)["exitStatus"] == EXIT_DIFFERS


def colliding_memory(image, block):
    """image with one byte of block raised by one and another one lowered by one: the same
    16-bit sum, so the same checksum."""
    memory = bytearray(image)
    start = block * 256
    up = next(i for i in range(start, start + 256) if memory[i] < 0xFF)
    down = next(i for i in range(start, start + 256) if i != up and memory[i] > 0x00)
    memory[up] += 1
    memory[down] -= 1
    assert memory != image and check_value(memory) == check_value(image)
    return bytes(memory)


def test_a_colliding_checksum_is_found_by_the_verify_pass(data):
    memory = colliding_memory(image_of(FIRMWARE_A), 300)
    (data / "collide.bin").write_bytes(memory)
    result = run_cli(data, ["--memory-in", "collide.bin", "--memory-out", "after.bin", "--record", "record.txt"],
                     "--check", "--json", "report.json")
    assert result.returncode == EXIT_DIFFERS, result.stdout + result.stderr
    assert (f"Differs from firmware 2.14 (VX58PRO_V214.hex): the unit refused block 300 "
            f"(checksums equal, 0x{check_value(memory):04X})") in result.stdout.splitlines()
    unit = report_unit(data)
    assert unit["check"]["deviceChecksum"] == unit["check"]["imageChecksum"] == check_value(memory)
    assert (unit["check"]["verdict"], unit["check"]["refusedBlock"], unit["check"]["blocksVerified"]) == \
        ("differs", 300, 300)
    assert (data / "after.bin").read_bytes() == memory
    record = record_of(data)
    assert_nothing_written(record)
    assert "verify block 300 differs from memory" in record


@pytest.mark.parametrize("fault", ["mute-after-block=100", "hang-up-after-block=100"])
def test_a_unit_that_goes_silent_or_is_unplugged_during_the_check_fails_it(data, fault):
    (data / "a.bin").write_bytes(image_of(FIRMWARE_A))
    result = run_cli(data, ["--memory-in", "a.bin", "--memory-out", "after.bin", "--record", "record.txt",
                            "--fault", fault], "--check", "--json", "report.json")
    assert result.returncode == EXIT_CHECK_FAILED, result.stdout + result.stderr
    assert "Check failed: no answer to block 101 of the verify pass" in result.stdout.splitlines()
    assert "Holds" not in result.stdout and "Differs" not in result.stdout
    check = report_unit(data)["check"]
    assert (check["verdict"], check["failure"], check["unansweredBlock"], check["blocksVerified"]) == \
        ("failed", "blockUnanswered", 101, 101)
    assert (data / "after.bin").read_bytes() == image_of(FIRMWARE_A)
    assert_nothing_written(record_of(data))


def test_a_damaged_firmware_ends_the_check_as_it_ends_the_update(data):
    text = vf_image.decode_storage((data / FIRMWARE_A).read_bytes())
    (data / FIRMWARE_A).write_bytes(vf_image.decode_storage(text[:len(text) // 2]))
    result = run_cli(data, ["--old-firmware", "--record", "record.txt"], "--check")
    assert result.returncode == 3, result.stdout + result.stderr
    assert "Errorcode: ERROR_READ_FILE !" in result.stdout
    # Identified, then nothing: no checksum, no verify pass.
    assert not [line for line in record_of(data) if line.startswith(("frame 01 07 ", "block "))]


def test_skip_current_leaves_a_current_unit_alone_and_updates_one_that_differs(data):
    (data / "a.bin").write_bytes(image_of(FIRMWARE_A))
    current = run_cli(data, ["--memory-in", "a.bin", "--memory-out", "after.bin", "--record", "record.txt"],
                      "--skip-current", "--json", "report.json")
    assert current.returncode == 0, current.stdout + current.stderr
    assert "Holds firmware 2.14 (VX58PRO_V214.hex); current, left alone" in current.stdout.splitlines()
    assert "Writing" not in current.stdout
    assert (data / "after.bin").read_bytes() == image_of(FIRMWARE_A)
    assert_nothing_written(record_of(data))
    unit = report_unit(data)
    assert (unit["leftAlone"], unit["check"]["verdict"], unit["result"], unit["exitStatus"]) == \
        (True, "holds", None, 0)

    old = run_cli(data, ["--old-firmware", "--memory-out", "updated.bin", "--record", "record.txt"],
                  "--skip-current", "--json", "report.json")
    assert old.returncode == 0, old.stdout + old.stderr
    lines = old.stdout.splitlines()
    verdict = next(line for line in lines if line.startswith("Differs from firmware 2.14"))
    assert verdict.endswith("; updating")
    assert lines.index(verdict) < lines.index("Writing 10 %") < lines.index("Update successful finished !")
    assert "Comparing" not in old.stdout   # the checksum differed: no verify pass of the check
    assert (data / "updated.bin").read_bytes() == image_of(FIRMWARE_A)
    unit = report_unit(data)
    assert (unit["leftAlone"], unit["check"]["verdict"], unit["check"]["blocksVerified"]) == (False, "differs", 0)
    assert unit["result"] == {"code": 23, "name": "OK_UPDATE_FINISHED"}
    assert (unit["blocksWritten"], unit["blocksVerified"]) == (512, 512)
    # Two connections: the check's (nothing written), then a whole update from a new
    # identification; the unit recorded no violation.
    record = record_of(data)
    update_begins = max(i for i, line in enumerate(record) if line.startswith("connection"))
    assert any(line.startswith("check session") for line in record[:update_begins])
    assert_nothing_written(record[:update_begins])
    assert "verify pass ended; every block equal" in record[update_begins:]


def test_ctrl_c_stops_a_check_at_once(data):
    (data / "a.bin").write_bytes(image_of(FIRMWARE_A))
    command = [TESTBED, "--memory-in", "a.bin", "--memory-out", "after.bin", "--record", "record.txt", "--",
               CLI, "-y", "--language", "en", "--check"]
    process = subprocess.Popen(command, cwd=data, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True)
    output = []
    for line in process.stdout:
        output.append(line.rstrip("\n"))
        if line.startswith("Comparing 20 %"):
            process.send_signal(signal.SIGINT)   # the testbed hands it on to the program
    assert process.wait(timeout=TIMEOUT_S) == EXIT_INTERRUPTED, output
    assert "varnoflex-cli: check stopped; nothing was written to the unit" in output
    assert not [line for line in output if "Press Ctrl-C again" in line or line.startswith("Holds")]
    assert (data / "after.bin").read_bytes() == image_of(FIRMWARE_A)
    assert_nothing_written(record_of(data))


def test_check_options_on_the_command_line(data):
    usage = subprocess.run([CLI, "--help"], capture_output=True, text=True, timeout=TIMEOUT_S)
    assert "--check" in usage.stdout and "--skip-current" in usage.stdout
    assert "  24  --check: the unit does not hold the firmware" in usage.stdout
    both = run_cli(data, [], "--check", "--skip-current")
    assert both.returncode == 64 and "exclude each other" in both.stderr
    # German words for the verdict.
    (data / "a.bin").write_bytes(image_of(FIRMWARE_A))
    german = run_cli(data, ["--memory-in", "a.bin"], "--check", "--language", "de")
    assert german.returncode == 0, german.stdout + german.stderr
    assert "Enthält Firmware 2.14 (VX58PRO_V214.hex)" in german.stdout.splitlines()
    assert "Vergleichen 100 %" in german.stdout.splitlines()


# The sample list's three entries and a fourth one for a test rig, in converter order.
UNITS = [
    ("FTVF2Q7K", "VX-58 Pro", "2.14", "VX58PRO_V214.hex"),
    ("FTVF8H3N", "VX-36 Compact", "1.07", "VX36C_V107.hex"),
    ("FTVF5M9R", "VX-44 Macro Ring", "3.02", "VX44MR_V302.hex"),
    ("FTVF0TST", "VX-90 Test", "9.99", "VX58PRO_V214.hex"),
]


def add_test_rig_entry(data):
    listed = vf_image.decode_storage((data / "devicelist.ovk").read_bytes())
    listed += b"#VX-90 Test,Test Rig,FTVF0TST,9.99,VX58PRO_V214.hex\r\n"
    (data / "devicelist.ovk").write_bytes(vf_image.decode_storage(listed))


def summary_rows(stdout):
    """The rows of the summary table after its heading, split on runs of two spaces or more."""
    lines = stdout.splitlines()
    heading = next(i for i, line in enumerate(lines) if line.startswith("Serial  "))
    rows = []
    for line in lines[heading + 1:]:
        if not line.strip():
            break
        rows.append(re.split(r"\s{2,}", line))
    return rows


def bench(memory_in):
    """Testbed options for the four units, each starting with the memory memory_in names
    (None: its own default, blank), recording and keeping what it holds afterwards."""
    testbed = []
    for index, (serial, *_rest) in enumerate(UNITS):
        testbed += ["--unit", serial, "--memory-out", f"after{index}.bin", "--record", f"record{index}.txt"]
        if memory_in[index]:
            testbed += memory_in[index]
    return testbed


def holds_cell(index, skip_current):
    _serial, _model, version, firmware = UNITS[index]
    return f"holds firmware {version} ({firmware})" + ("; current, left alone" if skip_current else "")


def test_all_skip_current_updates_only_the_units_that_differ(data):
    add_test_rig_entry(data)
    for index in (0, 3):
        (data / f"current{index}.bin").write_bytes(image_of(UNITS[index][3]))
    # Units 0 and 3 hold their firmware; unit 1 has older firmware, unit 2 is blank.
    first = run_cli(data, bench([["--memory-in", "current0.bin"], ["--old-firmware"], None,
                                 ["--memory-in", "current3.bin"]]),
                    "--all", "--skip-current", "--json", "report.json")
    assert first.returncode == 0, first.stdout + first.stderr
    for index, (serial, _model, version, firmware) in enumerate(UNITS):
        assert (data / f"after{index}.bin").read_bytes() == image_of(firmware), serial
        if index in (0, 3):
            assert_nothing_written(record_of(data, f"record{index}.txt"))
    rows = summary_rows(first.stdout)
    assert rows == [
        ["FTVF2Q7K", "/dev/ttyUSB0", "VX-58 Pro", "2.14", holds_cell(0, True), "unchanged"],
        ["FTVF8H3N", "/dev/ttyUSB1", "VX-36 Compact", "1.07", "finished", "written and verified"],
        ["FTVF5M9R", "/dev/ttyUSB2", "VX-44 Macro Ring", "3.02", "finished", "written and verified"],
        ["FTVF0TST", "/dev/ttyUSB3", "VX-90 Test", "9.99", holds_cell(3, True), "unchanged"],
    ]
    # Each unit's line gives its verdict first; the units that differ then show their update.
    lines = first.stdout.splitlines()
    differs = next(line for line in lines if line.startswith("FTVF8H3N /dev/ttyUSB1: differs from firmware 1.07"))
    assert differs.endswith("; updating")
    assert lines.index(differs) < lines.index("FTVF8H3N /dev/ttyUSB1: Writing 10 %")
    assert "FTVF2Q7K /dev/ttyUSB0: Comparing 50 %" in lines
    assert not [line for line in lines if line.startswith(("FTVF2Q7K /dev/ttyUSB0: Writing", "FTVF0TST /dev/ttyUSB3: Writing"))]

    units = json.loads((data / "report.json").read_text())["units"]
    assert [u["leftAlone"] for u in units] == [True, False, False, True]
    assert [u["check"]["verdict"] for u in units] == ["holds", "differs", "differs", "holds"]
    assert [u["memory"] for u in units] == ["unchanged", "written and verified", "written and verified", "unchanged"]
    assert [u["exitStatus"] for u in units] == [0, 0, 0, 0]
    assert [(u["blocksWritten"], u["blocksVerified"]) for u in units] == [(0, 512), (512, 512), (512, 512), (0, 512)]
    assert units[1]["result"] == {"code": 23, "name": "OK_UPDATE_FINISHED"} and units[0]["result"] is None
    assert units[2]["check"]["deviceChecksum"] == check_value(bytes([0xFF]) * MEMORY_BYTES)

    # A second run over the same units: all four are current now, none is written.
    second = run_cli(data, bench([["--memory-in", f"after{index}.bin"] for index in range(4)]),
                     "--all", "--skip-current", "--json", "report.json")
    assert second.returncode == 0, second.stdout + second.stderr
    assert [row[4:] for row in summary_rows(second.stdout)] == [[holds_cell(i, True), "unchanged"] for i in range(4)]
    for index, (serial, _model, _version, firmware) in enumerate(UNITS):
        assert (data / f"after{index}.bin").read_bytes() == image_of(firmware), serial
        assert_nothing_written(record_of(data, f"record{index}.txt"))
    assert [u["leftAlone"] for u in json.loads((data / "report.json").read_text())["units"]] == [True] * 4


def test_all_check_names_each_verdict_and_a_unit_that_stops_answering_fails(data):
    add_test_rig_entry(data)
    for index in range(4):
        (data / f"current{index}.bin").write_bytes(image_of(UNITS[index][3]))
    # Unit 0 holds its firmware, unit 1 goes silent and unit 3 is unplugged in the verify
    # pass, unit 2 has other firmware.
    result = run_cli(data, bench([["--memory-in", "current0.bin"],
                                  ["--memory-in", "current1.bin", "--fault", "mute-after-block=100"],
                                  ["--old-firmware"],
                                  ["--memory-in", "current3.bin", "--fault", "hang-up-after-block=100"]]),
                     "--all", "--check", "--json", "report.json")
    # The first unit in converter order that does not hold its firmware gives the status.
    assert result.returncode == EXIT_CHECK_FAILED, result.stdout + result.stderr
    rows = summary_rows(result.stdout)
    failed = "check failed: no answer to block 101 of the verify pass"
    assert [row[4] for row in rows[:2]] == [holds_cell(0, False), failed]
    assert rows[2][4].startswith("differs from firmware 3.02 (VX44MR_V302.hex): checksum ")
    assert rows[3][4] == failed
    assert [row[5] for row in rows] == ["unchanged"] * 4
    assert "holds" not in " ".join(rows[1] + rows[3])
    for index in range(4):
        assert_nothing_written(record_of(data, f"record{index}.txt"))
        if index != 2:
            assert (data / f"after{index}.bin").read_bytes() == image_of(UNITS[index][3])

    units = json.loads((data / "report.json").read_text())["units"]
    assert [u["check"]["verdict"] for u in units] == ["holds", "failed", "differs", "failed"]
    assert [u["exitStatus"] for u in units] == [0, EXIT_CHECK_FAILED, EXIT_DIFFERS, EXIT_CHECK_FAILED]
    assert [u["leftAlone"] for u in units] == [False] * 4
    assert units[3]["check"]["unansweredBlock"] == 101
