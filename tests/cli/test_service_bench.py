# SPDX-License-Identifier: MIT
"""varnoflex-cli on a service bench: several units behind their own emulated converters
(vf-testbed --unit), --serial, --all with its summary, exit status and JSON report, --trace
against what the simulated unit recorded, Ctrl-C and SIGTERM during --all, a caller that
ignores SIGCHLD, reports that cannot be written, a busy port and converters that share a
serial. Every run happens in a temporary copy of the sample data set.

Environment: VF_CLI, VF_TESTBED, VF_SAMPLE_DIR, VF_IMAGE_TOOL (as for test_cli.py).
"""
import datetime
import importlib.util
import json
import os
import re
import shutil
import signal
import subprocess
import sys

import pytest

CLI = os.environ["VF_CLI"]
TESTBED = os.environ["VF_TESTBED"]
SAMPLE = os.environ["VF_SAMPLE_DIR"]
IMAGE_TOOL = os.environ["VF_IMAGE_TOOL"]
TIMEOUT_S = 180
MEMORY_BYTES = 131072                # the simulated unit's default range: 512 blocks

# The sample list's three entries and a fourth one for a test rig, in converter order.
UNITS = [
    ("FTVF2Q7K", "VX-58 Pro", "Lumetra LX", "2.14", "VX58PRO_V214.hex"),
    ("FTVF8H3N", "VX-36 Compact", "Korin KM", "1.07", "VX36C_V107.hex"),
    ("FTVF5M9R", "VX-44 Macro Ring", "Lumetra LX", "3.02", "VX44MR_V302.hex"),
    ("FTVF0TST", "VX-90 Test", "Test Rig", "9.99", "VX58PRO_V214.hex"),
]
EXIT_USAGE = 64
EXIT_REPORT_NOT_WRITTEN = 73
EXIT_DUPLICATE_SERIAL = 75
DRIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "signal_driver.py")
HEADING = ["Serial", "Port", "Model", "Version", "Result", "Memory"]


def load_image_tool():
    module_source = importlib.util.spec_from_file_location("vf_image", IMAGE_TOOL)
    module = importlib.util.module_from_spec(module_source)
    module_source.loader.exec_module(module)
    return module


vf_image = load_image_tool()


@pytest.fixture
def data(tmp_path):
    for name in os.listdir(SAMPLE):
        if name.endswith((".ovk", ".hex")):
            shutil.copy(os.path.join(SAMPLE, name), tmp_path)
    # The storage encoding exchanges the halves of every byte: the same step both ways.
    listed = vf_image.decode_storage((tmp_path / "devicelist.ovk").read_bytes())
    listed += b"#VX-90 Test,Test Rig,FTVF0TST,9.99,VX58PRO_V214.hex\r\n"
    (tmp_path / "devicelist.ovk").write_bytes(vf_image.decode_storage(listed))
    return tmp_path


def environment():
    return {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "LANG"))}


def run_cli(cwd, testbed, *args):
    command = [TESTBED, *testbed, "--", CLI, "-y", "--language", "en", *args]
    return subprocess.run(command, cwd=cwd, env=environment(), stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=TIMEOUT_S)


def image_of(firmware):
    return bytes(vf_image.image_from_file(os.path.join(SAMPLE, firmware))[:MEMORY_BYTES])


def summary_rows(stdout):
    """The rows of the summary table after its heading, split on runs of two spaces or more."""
    lines = stdout.splitlines()
    heading = next(i for i, line in enumerate(lines) if line.startswith("Serial  "))
    assert re.split(r"\s{2,}", lines[heading]) == HEADING
    rows = []
    for line in lines[heading + 1:]:
        if not line.strip():
            break
        rows.append(re.split(r"\s{2,}", line))
    return rows


def parse_time(text):
    assert text.endswith("Z")
    return datetime.datetime.fromisoformat(text[:-1] + "+00:00")


def test_all_updates_four_units_and_one_failure_stops_no_other(data):
    testbed = []
    for index, (serial, *_rest) in enumerate(UNITS):
        testbed += ["--unit", serial, "--memory-out", f"memory{index}.bin", "--record", f"record{index}.txt"]
        if index == 2:
            testbed += ["--fault", "refuse-write-block=100"]
    result = run_cli(data, testbed, "--all", "--json", "report.json")
    assert result.returncode == 12, result.stdout + result.stderr

    for index, (serial, _model, _target, _version, firmware) in enumerate(UNITS):
        memory = (data / f"memory{index}.bin").read_bytes()
        assert (memory == image_of(firmware)) == (index != 2), serial

    rows = summary_rows(result.stdout)
    assert rows == [
        ["FTVF2Q7K", "/dev/ttyUSB0", "VX-58 Pro", "2.14", "finished", "written and verified"],
        ["FTVF8H3N", "/dev/ttyUSB1", "VX-36 Compact", "1.07", "finished", "written and verified"],
        ["FTVF5M9R", "/dev/ttyUSB2", "VX-44 Macro Ring", "3.02", "failed: 12 ERROR_WRITE_BLOCK", "partly written"],
        ["FTVF0TST", "/dev/ttyUSB3", "VX-90 Test", "9.99", "finished", "written and verified"],
    ]
    # Not a terminal: progress lines per unit, every 10 %, through both passes.
    for serial, *_rest in UNITS:
        assert f"{serial} /dev/ttyUSB{[u[0] for u in UNITS].index(serial)}: Writing 10 %" in result.stdout
    assert "FTVF0TST /dev/ttyUSB3: Verifying 100 %" in result.stdout
    assert "FTVF5M9R /dev/ttyUSB2: Writing 50 %" not in result.stdout   # it stopped at block 100

    report = json.loads((data / "report.json").read_text())
    assert report["interrupted"] is False
    units = report["units"]
    assert [u["serial"] for u in units] == [u[0] for u in UNITS]
    for index, unit in enumerate(units):
        serial, model, target, version, firmware = UNITS[index]
        assert unit["port"] == f"/dev/ttyUSB{index}"
        assert unit["entry"] == {"model": model, "target": target, "version": version, "firmwareFile": firmware}
        start, end = parse_time(unit["start"]), parse_time(unit["end"])
        assert start <= end
        assert unit["durationSeconds"] == pytest.approx((end - start).total_seconds(), abs=0.002)
        record = (data / f"record{index}.txt").read_text().splitlines()
        # The bytes each way, against what the unit itself saw and sent.
        sent_by_unit = sum(len(line.split()) - 1 for line in record if line.startswith("sent "))
        assert unit["bytesReceived"] == sent_by_unit
        if index == 2:
            assert unit["result"] == {"code": 12, "name": "ERROR_WRITE_BLOCK"}
            assert unit["stored"] == [{"code": 12, "name": "ERROR_WRITE_BLOCK"}]
            assert unit["exitStatus"] == 12
            assert (unit["blocksWritten"], unit["blocksVerified"]) == (100, 0)
            assert (unit["memory"], unit["memoryPartlyWritten"]) == ("partly written", True)
        else:
            assert (unit["memory"], unit["memoryPartlyWritten"]) == ("written and verified", False)
            assert unit["result"] == {"code": 23, "name": "OK_UPDATE_FINISHED"}
            assert [c["code"] for c in unit["stored"]] == [22, 23]
            assert unit["exitStatus"] == 0
            assert (unit["blocksWritten"], unit["blocksVerified"]) == (512, 512)
            assert unit["bytesSent"] > 2 * 512 * 260

    # The same bench again, each unit starting from the memory the first run left: all finish.
    again = []
    for index, (serial, *_rest) in enumerate(UNITS):
        again += ["--unit", serial, "--memory-in", f"memory{index}.bin", "--memory-out", f"again{index}.bin"]
    second = run_cli(data, again, "--all", "--json", "again.json")
    assert second.returncode == 0, second.stdout + second.stderr
    assert [row[4] for row in summary_rows(second.stdout)] == ["finished"] * 4
    assert report["notConnected"] == []
    for index, (_serial, _model, _target, _version, firmware) in enumerate(UNITS):
        assert (data / f"again{index}.bin").read_bytes() == image_of(firmware)
    codes = [[c["code"] for c in u["stored"]] for u in json.loads((data / "again.json").read_text())["units"]]
    assert codes == [[22, 23]] * 4   # memory not blank: erased without a code of its own


def test_serial_picks_its_unit_and_opens_no_other_port(data):
    testbed = []
    for index, (serial, *_rest) in enumerate(UNITS[:3]):
        testbed += ["--unit", serial, "--memory-out", f"memory{index}.bin", "--record", f"record{index}.txt"]
    result = run_cli(data, testbed, "--serial", "FTVF8H3N", "--trace", "trace.txt")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "varnoflex   VX-36 Compact   for   Korin KM" in result.stdout.splitlines()
    assert (data / "memory1.bin").read_bytes() == image_of("VX36C_V107.hex")
    for index in (0, 2):
        record = (data / f"record{index}.txt").read_text().splitlines()
        # Only the testbed's own note of the lines at start: the port was never opened.
        assert [line for line in record if not line.startswith("summary")] == ["modem lines DTR=1 RTS=1"], record
        assert (data / f"memory{index}.bin").read_bytes() == b"\xff" * MEMORY_BYTES
    opened = [line.split()[2] for line in (data / "trace.txt").read_text().splitlines() if line.split()[1] == "open"]
    assert opened == ["/dev/ttyUSB1"]


def test_serial_without_converter_or_entry(data):
    units = ["--unit", "FTVF2Q7K", "--unit", "FTVF8H3N"]
    # Listed, but no such converter is present: the identification ends with 7.
    absent = run_cli(data, units, "--serial", "FTVF5M9R", "--json", "report.json")
    assert absent.returncode == 7, absent.stdout + absent.stderr
    assert "Errorcode: ERROR_NO_DRIVER_ENTRY !" in absent.stdout
    unit = json.loads((data / "report.json").read_text())["units"][0]
    assert (unit["serial"], unit["port"], unit["entry"]) == ("FTVF5M9R", None, None)
    assert unit["result"] == {"code": 7, "name": "ERROR_NO_DRIVER_ENTRY"}

    # No device list entry names it: bad input, before anything is opened.
    unlisted = run_cli(data, units, "--serial", "ZZQ91X0B")
    assert unlisted.returncode == EXIT_USAGE
    assert "no device list entry names the converter ZZQ91X0B" in unlisted.stderr
    assert "varnoflex   " not in unlisted.stdout
    for bad in ("FTVF2Q7", "FTVF2Q7K9", "FTVF 2Q7"):
        assert run_cli(data, units, "--serial", bad).returncode == EXIT_USAGE, bad
    assert run_cli(data, units, "--serial", "FTVF2Q7K", "--all").returncode == EXIT_USAGE


def trace_events(path):
    """(direction, bytes) of every write and complete read in the trace; a data block as
    its head and its last two bytes."""
    events = []
    for line in path.read_text().splitlines():
        fields = line.split(None, 2)
        if fields[1] not in ("write", "read") or ":" not in fields[2]:
            continue
        count, _, hex_text = fields[2].partition(": ")
        hex_text = hex_text.replace(" [256 data bytes]", "")
        events.append((fields[1], count, bytes.fromhex(hex_text)))
    return events


def record_frames(path):
    """What the unit received, frame by frame (data blocks as head and last two bytes), and
    all it sent, as one byte string."""
    received, sent = [], b""
    for line in path.read_text().splitlines():
        if line == "wake byte 00":
            received.append(b"\x00")
        elif line.startswith("frame "):
            received.append(bytes.fromhex(line[len("frame "):line.rindex(" at ")]))
        elif line.startswith("block "):
            head, tail = line.split(": ", 1)[1].split(" ... ")
            received.append(bytes.fromhex(head)[:2] + bytes.fromhex(tail))
        elif line.startswith("sent "):
            sent += bytes.fromhex(line[len("sent "):])
    return received, sent


@pytest.mark.parametrize("fault", [None, "refuse-write-block=7"])
def test_trace_matches_what_the_unit_recorded(data, fault):
    testbed = ["--converter", "FTVF8H3N", "--end-address", "7FFF", "--record", "record.txt"] + (
        ["--fault", fault] if fault else [])
    result = run_cli(data, testbed, "--trace", "trace.txt")
    assert result.returncode == (12 if fault else 0), result.stdout + result.stderr
    events = trace_events(data / "trace.txt")
    writes = [b for direction, _count, b in events if direction == "write"]
    reads = b"".join(b for direction, _count, b in events if direction == "read")
    received, sent = record_frames(data / "record.txt")
    assert len(writes) == len(received)
    assert writes == received
    assert reads == sent
    text = (data / "trace.txt").read_text()
    assert "speed 115200" in text and "wait 200 ms" in text and " close" in text
    assert re.search(r"^\s+\d+\.\d{3} write 260: 02 00 \[256 data bytes\] [0-9A-F]{2} 17$", text, re.M)


def test_trace_shows_where_the_unit_stopped_answering(data):
    result = run_cli(data, ["--converter", "FTVF8H3N", "--end-address", "7FFF", "--fault", "no-final-ack"],
                     "--trace", "trace.txt")
    assert result.returncode == 13, result.stdout + result.stderr
    lines = (data / "trace.txt").read_text().splitlines()
    # The last block is written with the end byte 03, then five reads of the ack come to nothing.
    last_block = max(i for i, line in enumerate(lines) if "[256 data bytes]" in line)
    assert lines[last_block].endswith(" 03")
    shortfalls = [line for line in lines[last_block:] if re.search(r" read 0 of 5, \S", line)]
    assert len(shortfalls) == 5


def test_json_on_standard_output(data):
    result = run_cli(data, ["--converter", "FTVF8H3N", "--end-address", "7FFF"], "--json", "-")
    assert result.returncode == 0, result.stdout + result.stderr
    report = json.loads(result.stdout)   # nothing else on standard output
    unit = report["units"][0]
    assert (unit["serial"], unit["port"]) == ("FTVF8H3N", "/dev/ttyUSB0")
    assert (unit["blocksWritten"], unit["blocksVerified"]) == (128, 128)
    assert unit["firmwareProblem"] is None
    assert "Update successful finished !" in result.stderr


def signal_all_while_writing(data, unit_count, signals, *sim_options):
    """Runs --all over the first unit_count units, each with its memory written out, sends the
    first signal once every unit is writing and each further one after the warning, and
    returns (exit status, stdout, stderr)."""
    testbed = []
    for index, (serial, *_rest) in enumerate(UNITS[:unit_count]):
        testbed += ["--unit", serial, *sim_options, "--memory-out", f"memory{index}.bin"]
    command = [TESTBED, *testbed, "--", CLI, "-y", "--language", "en", "--all", "--json", "report.json"]
    process = subprocess.Popen(command, cwd=data, env=environment(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    seen = set()
    output = []
    for line in process.stdout:   # waits for lines, not for time
        output.append(line)
        match = re.match(r"(\w{8}) \S+: Writing 10 %", line)
        if match:
            seen.add(match.group(1))
        if len(seen) == unit_count:
            break
    errors = []
    process.send_signal(signals[0])   # the testbed passes it on to varnoflex-cli
    for signal_number in signals[1:]:
        for line in process.stderr:
            errors.append(line)
            if "Press Ctrl-C again" in line:
                break
        process.send_signal(signal_number)
    rest, more_errors = process.communicate(timeout=TIMEOUT_S)
    return process.returncode, "".join(output) + rest, "".join(errors) + more_errors


@pytest.mark.parametrize("signals, status", [
    ([signal.SIGINT, signal.SIGINT], 130),
    ([signal.SIGTERM], 143),
], ids=["two-ctrl-c", "sigterm"])
def test_a_stop_ends_every_unit_between_frames_and_names_the_unfinished(data, signals, status):
    code, stdout, errors = signal_all_while_writing(data, 3, signals, "--pace")
    assert code == status, stdout + errors
    if len(signals) == 2:
        assert errors.count("Press Ctrl-C again within 5 seconds") == 1
    assert [row[4:] for row in summary_rows(stdout)] == [["unfinished", "partly written"]] * 3
    for index, (serial, *_rest) in enumerate(UNITS[:3]):
        assert (f"{serial} /dev/ttyUSB{index}: update interrupted; the unit's memory is partly written. "
                "Start download again !") in stdout
        memory = (data / f"memory{index}.bin").read_bytes()
        assert memory != b"\xff" * MEMORY_BYTES and memory != image_of(UNITS[index][4])
    report = json.loads((data / "report.json").read_text())
    assert report["interrupted"] is True
    assert [(u["serial"], u["unfinished"], u["memory"], u["memoryPartlyWritten"]) for u in report["units"]] == [
        (u[0], True, "partly written", True) for u in UNITS[:3]]
    # Each child stopped on its own between frames (SIGTERM from the parent) and told so.
    assert [u["exitStatus"] for u in report["units"]] == [143] * 3
    assert all(0 < u["blocksWritten"] < 512 for u in report["units"])


def run_in_group(data, testbed, *args):
    """varnoflex-cli leading a process group of its own inside the testbed, the group sent
    SIGINT when the write pass first shows and again a second later (signal_driver.py)."""
    runs_file = data / "runs.json"
    command = [TESTBED, *testbed, "--", sys.executable, DRIVER, str(runs_file), "group-interrupts",
               CLI, "-y", "--language", "en", *args]
    result = subprocess.run(command, cwd=data, env=environment(), stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=TIMEOUT_S)
    assert result.returncode == 0, result.stdout + result.stderr
    [run] = json.loads(runs_file.read_text())
    return run


def test_ctrl_c_at_the_terminal_warns_once_and_the_second_says_what_each_memory_holds(data):
    # A blank unit, one holding older firmware (it is erased first) and a paced one; the
    # terminal's Ctrl-C reaches the whole foreground process group, twice, a second apart.
    testbed = ["--unit", "FTVF2Q7K", "--memory-out", "memory0.bin", "--record", "record0.txt",
               "--unit", "FTVF8H3N", "--old-firmware", "--memory-out", "memory1.bin", "--record", "record1.txt",
               "--unit", "FTVF5M9R", "--pace", "--memory-out", "memory2.bin", "--record", "record2.txt"]
    run = run_in_group(data, testbed, "--all", "--json", "report.json")
    assert run["status"] == 130, run
    assert run["unsent"] == 0, "the run ended on the first Ctrl-C"
    output = "\n".join(run["output"])
    assert output.count("Press Ctrl-C again within 5 seconds") == 1
    report = json.loads((data / "report.json").read_text())
    assert report["interrupted"] is True
    for index, (row, unit) in enumerate(zip(summary_rows(output), report["units"])):
        record = (data / f"record{index}.txt").read_text()
        touched = " erase" in record or "block " in record
        assert touched, record[-2000:]
        assert row[4:] == ["unfinished", "partly written"], row
        assert (unit["memory"], unit["memoryPartlyWritten"], unit["unfinished"]) == ("partly written", True, True)

    # The next --all finishes every one of them.
    again = []
    for index, serial in enumerate(["FTVF2Q7K", "FTVF8H3N", "FTVF5M9R"]):
        again += ["--unit", serial, "--memory-in", f"memory{index}.bin", "--memory-out", f"again{index}.bin"]
    second = run_cli(data, again, "--all")
    assert second.returncode == 0, second.stdout + second.stderr
    assert [row[4:] for row in summary_rows(second.stdout)] == [["finished", "written and verified"]] * 3
    for index, (_serial, _model, _target, _version, firmware) in enumerate(UNITS[:3]):
        assert (data / f"again{index}.bin").read_bytes() == image_of(firmware)


def test_all_ends_when_the_caller_ignores_sigchld(data):
    # An ignored SIGCHLD survives exec (bash's trap '' CHLD, some supervisors): the children
    # would be reaped unseen.
    testbed = ["--unit", "FTVF8H3N", "--end-address", "7FFF", "--unit", "FTVF5M9R", "--end-address", "FFFF",
               "--fault", "refuse-write-block=3"]
    program = ["bash", "-c", 'trap "" CHLD; exec "$0" "$@"', CLI, "-y", "--language", "en", "--all", "--json",
               "report.json"]
    result = subprocess.run([TESTBED, *testbed, "--", *program], cwd=data, env=environment(),
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    assert result.returncode == 12, result.stdout + result.stderr
    assert [row[4] for row in summary_rows(result.stdout)] == ["finished", "failed: 12 ERROR_WRITE_BLOCK"]
    assert [u["exitStatus"] for u in json.loads((data / "report.json").read_text())["units"]] == [0, 12]


def assert_no_frame_reached(data, count):
    for index in range(count):
        record = (data / f"record{index}.txt").read_text().splitlines()
        assert [line for line in record if not line.startswith("summary")] == ["modem lines DTR=1 RTS=1"], record


@pytest.mark.parametrize("mode", [["--all"], []], ids=["all", "one-unit"])
@pytest.mark.parametrize("option", ["--json", "--trace"])
def test_a_report_that_cannot_be_made_stops_the_run_before_any_frame(data, mode, option):
    testbed = ["--unit", "FTVF2Q7K", "--record", "record0.txt", "--unit", "FTVF8H3N", "--record", "record1.txt"]
    result = run_cli(data, testbed, *mode, option, "no-such-folder/out.txt")
    assert result.returncode == EXIT_REPORT_NOT_WRITTEN, result.stdout + result.stderr
    what = "report" if option == "--json" else "trace"
    assert re.search(rf"cannot write the {what} no-such-folder/out(-FTVF2Q7K)?\.txt: No such file or directory",
                     result.stderr), result.stderr
    assert_no_frame_reached(data, 2)
    assert not any(name.startswith("out") for name in os.listdir(data))


@pytest.mark.parametrize("option", ["--trace", "--json"])
def test_a_report_that_cannot_be_written_whole_fails_the_run(data, option):
    # The file system is full: the update itself finishes, the status says the report did not.
    result = run_cli(data, ["--converter", "FTVF8H3N", "--end-address", "7FFF", "--memory-out", "memory.bin"], option,
                     "/dev/full")
    assert result.returncode == EXIT_REPORT_NOT_WRITTEN, result.stdout + result.stderr
    assert "No space left on device; the update itself finished" in result.stderr
    assert "Update successful finished !" in result.stdout
    assert (data / "memory.bin").read_bytes() == image_of("VX36C_V107.hex")[:0x8000]


def test_a_busy_port_during_all_is_named_in_the_summary_and_the_report(data):
    holder = ("import fcntl, os, sys, subprocess\n"
              "fd = os.open('/dev/ttyUSB0', os.O_RDWR | os.O_NOCTTY)\n"
              "fcntl.flock(fd, fcntl.LOCK_EX)\n"
              "sys.exit(subprocess.run(sys.argv[1:]).returncode)\n")
    testbed = ["--unit", "FTVF2Q7K", "--end-address", "0FFF", "--unit", "FTVF8H3N", "--end-address", "7FFF"]
    command = [TESTBED, *testbed, "--", sys.executable, "-c", holder, CLI, "-y", "--language", "en", "--all",
               "--json", "report.json"]
    result = subprocess.run(command, cwd=data, env=environment(), stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=TIMEOUT_S)
    assert result.returncode == 8, result.stdout + result.stderr
    assert [row[4:] for row in summary_rows(result.stdout)] == [
        ["failed: 8 NO_DEVICE_DETECTED", "unchanged"], ["finished", "written and verified"]]
    assert ("FTVF2Q7K /dev/ttyUSB0: last error of the serial port: Device or resource busy"
            in result.stdout.splitlines())
    first, second = json.loads((data / "report.json").read_text())["units"]
    assert (first["serial"], first["port"], first["lastError"]) == ("FTVF2Q7K", "/dev/ttyUSB0", "Device or resource busy")
    assert first["result"] == {"code": 8, "name": "NO_DEVICE_DETECTED"}
    assert second["lastError"] is None


def test_each_unit_reports_its_own_converters_latency_timer(data):
    """Each child reads its converter's latency timer after its update and sends it as an
    event: the report carries it per unit, also for a unit whose firmware was refused, and
    the summary names the converter whose driver kept a slow timer, with its sysfs file."""
    testbed = ["--unit", "FTVF2Q7K", "--end-address", "0FFF", "--ft232r",
               "--unit", "FTVF8H3N", "--end-address", "7FFF", "--ft232r", "--latency-timer", "8",
               "--fault", "keep-latency-timer"]
    result = run_cli(data, testbed, "--all", "--json", "report.json")
    assert result.returncode == 3, result.stdout + result.stderr
    assert [row[4] for row in summary_rows(result.stdout)] == ["failed: 3 ERROR_READ_FILE", "finished"]
    first, second = json.loads((data / "report.json").read_text())["units"]
    assert (first["serial"], first["latencyTimerMs"]) == ("FTVF2Q7K", 1)
    assert (second["serial"], second["latencyTimerMs"]) == ("FTVF8H3N", 8)
    hints = [line for line in result.stdout.splitlines() if "latency timer" in line]
    assert hints == ["Converter FTVF8H3N: its latency timer is 8 ms although the program asked the driver for "
                     "low latency, which makes an update wait about 3 s longer than at 1 ms; to lower it, root "
                     "writes 1 into /sys/bus/usb-serial/devices/ttyUSB1/latency_timer."], result.stdout


def test_converters_that_share_a_serial_are_named_and_none_is_updated(data):
    testbed = ["--unit", "FTVF2Q7K", "--end-address", "0FFF", "--memory-out", "memory0.bin", "--record", "record0.txt",
               "--unit", "FTVF8H3N", "--end-address", "7FFF", "--memory-out", "memory1.bin",
               "--unit", "FTVF2Q7K", "--end-address", "0FFF", "--memory-out", "memory2.bin", "--record", "record2.txt"]
    result = run_cli(data, testbed, "--all", "--json", "report.json")
    assert result.returncode == EXIT_DUPLICATE_SERIAL, result.stdout + result.stderr
    assert [row[:2] + row[4:] for row in summary_rows(result.stdout)] == [
        ["FTVF2Q7K", "/dev/ttyUSB0", "not updated: serial not unique", "unchanged"],
        ["FTVF8H3N", "/dev/ttyUSB1", "finished", "written and verified"],
        ["FTVF2Q7K", "/dev/ttyUSB2", "not updated: serial not unique", "unchanged"],
    ]
    assert ("More than one converter carries the serial FTVF2Q7K; they cannot be told apart, so none of them "
            "is updated.") in result.stdout.splitlines()
    for index in (0, 2):
        assert (data / f"memory{index}.bin").read_bytes() == b"\xff" * 4096
    assert_no_frame_reached(data, 1)
    units = json.loads((data / "report.json").read_text())["units"]
    assert [(u["port"], u["duplicateSerial"], u["exitStatus"]) for u in units] == [
        ("/dev/ttyUSB0", True, EXIT_DUPLICATE_SERIAL), ("/dev/ttyUSB1", False, 0),
        ("/dev/ttyUSB2", True, EXIT_DUPLICATE_SERIAL)]


def children_of(pid):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == pid:
                found.append(int(entry))
    return found


def descriptors(pid):
    links = {}
    for name in os.listdir(f"/proc/{pid}/fd"):
        try:
            links[int(name)] = os.readlink(f"/proc/{pid}/fd/{name}")
        except OSError:
            pass
    return links


def test_each_child_holds_only_its_own_descriptors(data):
    # The children of --all while they write: their standard streams on the null device, the
    # write end of their own event pipe, and nothing of the parent's (its report file, its
    # standard output kept for "--json -") or of another child.
    testbed = ["--unit", "FTVF2Q7K", "--pace", "--unit", "FTVF8H3N", "--pace"]
    command = [TESTBED, *testbed, "--", CLI, "-y", "--language", "en", "--all", "--json", "-",
               "--trace", "trace.txt"]
    process = subprocess.Popen(command, cwd=data, env=environment(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        seen = set()
        for line in process.stderr:   # under "--json -" the summary goes to standard error
            match = re.match(r"(\w{8}) \S+: Writing 10 %", line)
            if match:
                seen.add(match.group(1))
            if len(seen) == 2:
                break
        [parent] = children_of(process.pid)
        children = children_of(parent)
        assert len(children) == 2
        links = [descriptors(child) for child in children]
        # The test's ends of the parent's standard output (kept for the report) and error.
        streams = {os.readlink(f"/proc/self/fd/{stream.fileno()}") for stream in (process.stdout, process.stderr)}
    finally:
        process.send_signal(signal.SIGTERM)
        process.communicate(timeout=TIMEOUT_S)
    pipes = [{target for target in child.values() if target.startswith("pipe:")} for child in links]
    shared = pipes[0] & pipes[1]   # the testbed's preload library's, inherited by everyone
    for child, child_pipes in zip(links, pipes):
        assert [child.get(fd) for fd in (0, 1, 2)] == ["/dev/null"] * 3, child
        assert len(child_pipes - shared) == 1, child   # its own event pipe
        assert not (set(child.values()) & streams), child
        assert not any("trace.txt" in target and "FTVF" not in target for target in child.values()), child
    assert pipes[0] - shared != pipes[1] - shared


def test_hangup_during_all_lets_every_unit_finish(data):
    status, stdout, errors = signal_all_while_writing(data, 2, [signal.SIGHUP])
    assert status == 0, stdout + errors
    assert [row[4] for row in summary_rows(stdout)] == ["finished"] * 2
    for index, (serial, *_rest) in enumerate(UNITS[:2]):
        assert (data / f"memory{index}.bin").read_bytes() == image_of(UNITS[index][4])
    report = json.loads((data / "report.json").read_text())
    assert [(u["serial"], u["result"]["code"]) for u in report["units"]] == [(u[0], 23) for u in UNITS[:2]]


def test_all_on_a_terminal_redraws_one_line_per_unit(data):
    import pty
    master, slave = pty.openpty()
    command = [TESTBED, "--unit", "FTVF8H3N", "--end-address", "7FFF", "--unit", "FTVF5M9R", "--end-address", "FFFF",
               "--", CLI, "-y", "--language", "en", "--all"]
    process = subprocess.Popen(command, cwd=data, env=environment(), stdin=subprocess.DEVNULL, stdout=slave,
                               stderr=subprocess.PIPE)
    os.close(slave)
    output = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:   # the terminal's other side is closed: the program has ended
            break
        if not chunk:
            break
        output += chunk
    process.wait(timeout=TIMEOUT_S)
    os.close(master)
    assert process.returncode == 0, output.decode(errors="replace")
    text = output.decode()
    # The two unit lines are drawn once, then redrawn in place: up two lines, each line cleared.
    redraws = text.split("\x1b[2A")
    assert len(redraws) > 3
    last = redraws[-1].split("\r\n\r\n")[0]
    assert last.split("\r\n")[:2] == ["\r\x1b[KFTVF8H3N /dev/ttyUSB0: finished", "\r\x1b[KFTVF5M9R /dev/ttyUSB1: finished"]
    # No plain progress line of its own: every state is shown inside a redraw.
    assert all(line.startswith("\r\x1b[K") for line in text.replace("\x1b[2A", "").split("\r\n")
               if "Writing" in line)
    assert "FTVF8H3N  /dev/ttyUSB0  VX-36 Compact     1.07     finished  written and verified" in text
