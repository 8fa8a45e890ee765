# SPDX-License-Identifier: MIT
"""varnoflex-cli from the outside: whole updates against the simulated unit behind
vf-testbed's umockdev converter, the safety question on a terminal, --list, and bad input.
Every run happens in a temporary copy of the sample data set.

Environment: VF_CLI, VF_TESTBED (programs of the Linux build), VF_SAMPLE_DIR, VF_IMAGE_TOOL
(scripts/vf_image.py).
"""
import json
import os
import pty
import select
import shutil
import subprocess
import sys
import time

import pytest

CLI = os.environ["VF_CLI"]
TESTBED = os.environ["VF_TESTBED"]
SAMPLE = os.environ["VF_SAMPLE_DIR"]
IMAGE_TOOL = os.environ["VF_IMAGE_TOOL"]
FIRMWARE = "VX58PRO_V214.hex"        # the firmware of the sample list's first entry
TIMEOUT_S = 120

EXIT_USAGE = 64
EXIT_NOT_ACCEPTED = 65
EXIT_NO_SAFETY_TEXT = 66


@pytest.fixture
def data(tmp_path):
    for name in os.listdir(SAMPLE):
        if name.endswith((".ovk", ".hex")):
            shutil.copy(os.path.join(SAMPLE, name), tmp_path)
    return tmp_path


def run_cli(cwd, *args, testbed=None, env=None, stdin=subprocess.DEVNULL):
    command = [CLI, *args]
    if testbed is not None:
        command = [TESTBED, *testbed, "--", *command]
    full_env = {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "LANG"))}
    full_env.update(env or {})
    return subprocess.run(command, cwd=cwd, env=full_env, stdin=stdin, capture_output=True,
                          text=True, timeout=TIMEOUT_S)


def expected_image(tmp_path):
    out = tmp_path / "expected.bin"
    subprocess.run([sys.executable, IMAGE_TOOL, "image", os.path.join(SAMPLE, FIRMWARE), str(out),
                    "--size", "131072"], check=True)
    return out.read_bytes()


def test_update_writes_the_image_and_exits_0(data):
    result = run_cli(data, "-y", "--language", "en", testbed=["--memory-out", "memory.bin"])
    assert result.returncode == 0, result.stdout + result.stderr
    lines = result.stdout.splitlines()
    assert "varnoflex   VX-58 Pro   for   Lumetra LX" in lines
    assert "Version   2.14" in lines
    # Both messages, the intermediate one first, each exactly as the program words it.
    downloaded = lines.index("All datas are downloaded.")
    finished = lines.index("Update successful finished !")
    assert lines[downloaded - 1] == "OK" and lines[finished - 1] == "OK"
    assert downloaded < finished
    # Not a terminal: a plain line every 10 %, through both passes.
    assert lines.index("Writing 100 %") < downloaded < lines.index("Verifying 100 %") < finished
    assert (data / "memory.bin").read_bytes() == expected_image(data)


def test_refused_block_gives_12_and_the_next_run_succeeds(data):
    refused = run_cli(data, "-y", "--language", "en",
                      testbed=["--memory-out", "partial.bin", "--fault", "refuse-write-block=100"])
    assert refused.returncode == 12, refused.stdout + refused.stderr
    assert "Errorcode: ERROR_WRITE_BLOCK !" in refused.stdout
    assert "All datas are downloaded." not in refused.stdout
    assert (data / "partial.bin").read_bytes() != expected_image(data)

    again = run_cli(data, "-y", "--language", "en",
                    testbed=["--memory-in", "partial.bin", "--memory-out", "memory.bin"])
    assert again.returncode == 0, again.stdout + again.stderr
    assert (data / "memory.bin").read_bytes() == expected_image(data)


@pytest.mark.parametrize("fault, code, heading", [
    ("program-refused", 11, "Errorcode: ERROR_SET_MODE !"),
    ("wrong-checksum", 14, "Errorcode: ERROR_CHECKSUM !"),
    ("refuse-verify-block=3", 16, "Errorcode: ERROR_VERIFY !"),
])
def test_failures_exit_with_their_result_code(data, fault, code, heading):
    result = run_cli(data, "-y", "--language", "en", testbed=["--fault", fault])
    assert result.returncode == code, result.stdout + result.stderr
    assert heading in result.stdout


def test_low_latency_request_reaches_the_modelled_converter(data):
    """The program asks the converter's driver for low latency (TIOCSSERIAL through the
    emulated tty); the modelled FT232R then runs its latency timer at 1 ms, not at 16."""
    result = run_cli(data, "-y", "--language", "en", "--serial", "FTVF8H3N", "--json", "report.json",
                     testbed=["--unit", "FTVF8H3N", "--end-address", "7FFF", "--ft232r", "--record", "record.txt"])
    assert result.returncode == 0, result.stdout + result.stderr
    record = (data / "record.txt").read_text().splitlines()
    assert "converter: FT232R model, latency timer 16 ms" in record
    assert "converter latency timer 1 ms (low-latency request set by the host)" in record
    assert record[-1].startswith("converter: FT232R, latency timer 1 ms; "), record[-1]
    # The report gives the timer as the driver shows it in sysfs after the request; at 1 ms
    # there is nothing to say about it.
    report = json.loads((data / "report.json").read_text())
    assert report["units"][0]["latencyTimerMs"] == 1, report
    assert "latency timer" not in result.stdout



def test_timer_the_driver_kept_is_reported_with_how_to_lower_it(data):
    """A converter whose driver keeps its own 8 ms timer despite the request: one line says
    what it costs and which sysfs file root writes to lower it; the report carries 8."""
    result = run_cli(data, "-y", "--language", "en", "--serial", "FTVF8H3N", "--json", "report.json",
                     testbed=["--unit", "FTVF8H3N", "--end-address", "7FFF", "--ft232r", "--latency-timer", "8",
                              "--fault", "keep-latency-timer", "--record", "record.txt"])
    assert result.returncode == 0, result.stdout + result.stderr
    hints = [line for line in result.stdout.splitlines() if "latency timer" in line]
    assert hints == ["Converter FTVF8H3N: its latency timer is 8 ms although the program asked the driver for "
                     "low latency, which makes an update wait about 3 s longer than at 1 ms; to lower it, root "
                     "writes 1 into /sys/bus/usb-serial/devices/ttyUSB0/latency_timer."], result.stdout
    assert json.loads((data / "report.json").read_text())["units"][0]["latencyTimerMs"] == 8
    assert (data / "record.txt").read_text().splitlines()[-1].startswith("converter: FT232R, latency timer 8 ms; ")


def test_timer_is_read_from_the_updated_converter_not_one_whose_serial_begins_alike(data):
    """FTVF8H3N99 is another converter (listed first, its driver keeping 16 ms): the timer said
    and reported is the updated FTVF8H3N's own 1 ms, so nothing is said about it."""
    result = run_cli(data, "-y", "--language", "en", "--serial", "FTVF8H3N", "--json", "report.json",
                     testbed=["--unit", "FTVF8H3N99", "--fault", "keep-latency-timer",
                              "--unit", "FTVF8H3N", "--end-address", "7FFF", "--ft232r"])
    assert result.returncode == 0, result.stdout + result.stderr
    assert "latency timer" not in result.stdout
    assert json.loads((data / "report.json").read_text())["units"][0]["latencyTimerMs"] == 1


def test_check_reads_the_latency_timer_as_an_update_does(data):
    """A check goes through the same converter: after it, the kept 8 ms timer is said once
    and carried by the report, beside the verdict (a blank unit differs: 24)."""
    result = run_cli(data, "-y", "--language", "en", "--serial", "FTVF8H3N", "--check", "--json", "report.json",
                     testbed=["--unit", "FTVF8H3N", "--end-address", "7FFF", "--ft232r", "--latency-timer", "8",
                              "--fault", "keep-latency-timer"])
    assert result.returncode == 24, result.stdout + result.stderr
    hints = [line for line in result.stdout.splitlines() if "latency timer" in line]
    assert len(hints) == 1 and hints[0].startswith("Converter FTVF8H3N: its latency timer is 8 ms"), result.stdout
    unit = json.loads((data / "report.json").read_text())["units"][0]
    assert unit["latencyTimerMs"] == 8 and unit["check"]["verdict"] == "differs", unit

def test_german_messages(data):
    result = run_cli(data, "-y", testbed=[], env={"LANG": "de_DE.UTF-8"})
    assert result.returncode == 0, result.stdout + result.stderr
    lines = result.stdout.splitlines()
    assert "varnoflex   VX-58 Pro   für   Lumetra LX" in lines
    assert "Die Aktualisierung wurde geladen." in lines
    assert "Die Aktualisierung wurde erfolgreich beendet !" in lines
    assert "Prüfen 100 %" in lines
    # --language wins over the environment.
    english = run_cli(data, "-y", "--language", "en", testbed=[], env={"LC_ALL": "de_DE.UTF-8"})
    assert "Update successful finished !" in english.stdout


def test_without_terminal_and_without_y_it_refuses(data):
    result = run_cli(data)
    assert result.returncode == EXIT_NOT_ACCEPTED
    assert "-y" in result.stderr and len(result.stderr.splitlines()) == 1
    assert "varnoflex   " not in result.stdout


def answer_on_terminal(cwd, answers, *args):
    """Runs the CLI with a pty as stdin and stdout, writes answers after each question."""
    master, slave = pty.openpty()
    env = {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "LANG"))}
    process = subprocess.Popen([CLI, *args], cwd=cwd, env=env, stdin=slave, stdout=slave,
                               stderr=subprocess.PIPE)
    os.close(slave)
    output = b""
    deadline = time.monotonic() + TIMEOUT_S
    pending = list(answers)
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
            if pending and output.rstrip().endswith(b"]"):
                os.write(master, pending.pop(0).encode() + b"\n")
        elif process.poll() is not None:
            break
    process.wait(timeout=TIMEOUT_S)
    os.close(master)
    return process.returncode, output.decode("utf-8", "replace")


def test_question_on_a_terminal(data):
    code, output = answer_on_terminal(data, ["maybe", "no"], "--language", "en")
    assert code == EXIT_NOT_ACCEPTED
    assert output.count("Accept ? [yes/no]") == 2   # an unknown answer asks again
    # The safety text is shown before the question.
    assert output.index("Safety instructions - please read them") < output.index("Accept ?")

    code, output = answer_on_terminal(data, ["nein"], "--language", "de")
    assert code == EXIT_NOT_ACCEPTED
    assert "Akzeptiert ? [ja/nein]" in output

    # Accepted: the update starts; without a converter the identification ends with 7.
    code, output = answer_on_terminal(data, ["yes"], "--language", "en")
    assert code == 7, output
    assert "Errorcode: ERROR_NO_DRIVER_ENTRY !" in output


def test_list_shows_converters_and_their_entries(data):
    result = run_cli(data, "--list", "--language", "en",
                     testbed=["--converter", "FTVF2Q7K", "--converter", "ZZQ91X0B",
                              "--converter", "FTVF5M9R:0403:6015"])
    assert result.returncode == 0, result.stdout + result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "Converter FTVF2Q7K at /dev/ttyUSB0"
    assert lines[1] == "  device list entry 1: VX-58 Pro for Lumetra LX, firmware 2.14"
    assert lines[2] == "Converter ZZQ91X0B at /dev/ttyUSB1"
    assert lines[3] == "  not in the device list"
    assert len(lines) == 4   # another product id is not listed


def test_bad_input(data):
    unknown = run_cli(data, "--frobnicate")
    assert unknown.returncode == EXIT_USAGE
    assert unknown.stderr.count("\n") == 1 and "--frobnicate" in unknown.stderr
    assert run_cli(data, "--language", "fr").returncode == EXIT_USAGE
    assert run_cli(data, "-d").returncode == EXIT_USAGE

    os.remove(data / "devicelist.ovk")
    missing = run_cli(data, "-y", "--language", "en", testbed=[])
    assert missing.returncode == 4, missing.stdout + missing.stderr
    assert missing.stdout.count("Errorcode: ERROR_OPEN_FILE_LIST !") == 1

    # The list as plain text (not in the storage encoding) is refused the same way.
    shutil.copy(os.path.join(SAMPLE, "src", "devicelist.txt"), data / "devicelist.ovk")
    plain = run_cli(data, "-y", "--language", "en", testbed=[])
    assert plain.returncode == 4, plain.stdout + plain.stderr


def test_missing_firmware_and_safety_files(data):
    os.remove(data / FIRMWARE)
    no_firmware = run_cli(data, "-y", "--language", "en", testbed=[])
    assert no_firmware.returncode == 2, no_firmware.stdout + no_firmware.stderr
    assert "Errorcode: ERROR_OPEN_FILE !" in no_firmware.stdout

    os.remove(data / "SecurityGB.ovk")
    no_safety = run_cli(data, "-y", "--language", "en")
    assert no_safety.returncode == EXIT_NO_SAFETY_TEXT
    assert "   Can't read file for security advice !\n   Application terminated !" in no_safety.stdout
    # The German text is still there and is what --language de reads.
    assert run_cli(data, "--language", "de").returncode == EXIT_NOT_ACCEPTED

    elsewhere = run_cli("/", "-y", "--data-dir", str(data / "nowhere"))
    assert elsewhere.returncode == EXIT_NO_SAFETY_TEXT


def storage(data: bytes) -> bytes:
    """The storage encoding, the same step both ways: the halves of every byte exchanged."""
    return bytes(((b << 4) | (b >> 4)) & 0xFF for b in data)


def flip_a_data_bit(data):
    """Flips the lowest bit of the first data byte of the record in the middle of the firmware,
    its checksum left as it was; returns (line, address) of that record."""
    text = storage((data / FIRMWARE).read_bytes()).decode("ascii")
    mark = text.index(":", len(text) // 2)
    digit = int(text[mark + 10], 16) ^ 1
    text = text[:mark + 10] + f"{digit:X}" + text[mark + 11:]
    (data / FIRMWARE).write_bytes(storage(text.encode("ascii")))
    line = text.count("\n", 0, mark) + 1
    segment_records = [l for l in text[:mark].splitlines() if l[7:9] == "02"]
    base = int(segment_records[-1][9:13], 16) * 16 if segment_records else 0
    return line, base + int(text[mark + 3:mark + 7], 16)


@pytest.mark.parametrize("case", ["flipped-bit", "larger-than-the-unit"])
def test_a_damaged_or_foreign_firmware_is_refused_before_the_unit_is_touched(data, case):
    unit = ["--old-firmware"] + (["--end-address", "FFFF"] if case == "larger-than-the-unit" else [])
    subprocess.run([TESTBED, *unit, "--memory-out", "before.bin", "--", "true"], cwd=data, check=True,
                   capture_output=True, timeout=TIMEOUT_S)
    if case == "flipped-bit":
        line, address = flip_a_data_bit(data)
        kind, language, env = "checksumMismatch", "en", {}
        named = (f"{FIRMWARE}: line {line}, record {line}, address 0x{address:05X}: "
                 "the record's checksum does not match its bytes")
    else:
        line, address = 1987, 0x10000   # the first record beyond 64 KiB, after its segment record
        kind, language, env = "dataBeyondRange", "de", {"LANG": "de_DE.UTF-8"}
        named = (f"{FIRMWARE}: Zeile {line}, Datensatz {line}, Adresse 0x10000: "
                 "Daten hinter dem Ende des Speichers des Geräts")
    result = run_cli(data, "-y", "--language", language, "--json", "report.json", env=env,
                     testbed=[*unit, "--memory-out", "memory.bin", "--record", "record.txt"])
    assert result.returncode == 3, result.stdout + result.stderr

    # The code's message as it is stored, then the one line naming the file and the problem.
    lines = result.stdout.splitlines()
    heading = "Errorcode: ERROR_READ_FILE !" if language == "en" else "Fehler: ERROR_READ_FILE !"
    start = lines.index(heading)
    if language == "en":
        assert lines[start + 1:start + 4] == ["Can NOT read the updatefile !", named, ""], lines[start:]
    else:
        assert lines[start + 3:start + 5] == [named, ""], lines[start:]
        assert lines[start + 2] == "Eventuell ist diese Datei beschädigt."
    assert "Writing" not in result.stdout and "Schreiben" not in result.stdout

    report = json.loads((data / "report.json").read_text())
    unit_report = report["units"][0]
    assert unit_report["result"] == {"code": 3, "name": "ERROR_READ_FILE"}
    assert unit_report["firmwareProblem"] == {"kind": kind, "record": line, "line": line, "address": address}
    assert (unit_report["blocksWritten"], unit_report["blocksVerified"]) == (0, 0)

    # The unit was identified, then left alone: no range command, no block, memory as it was.
    record = (data / "record.txt").read_text().splitlines()
    assert any(r.startswith("frame 01 01 C5") for r in record)
    assert not [r for r in record if r.startswith(("frame 01 07 ", "block "))]
    assert (data / "memory.bin").read_bytes() == (data / "before.bin").read_bytes()


def test_control_bytes_of_the_safety_text_are_shown_as_marks(data):
    # A safety text carrying terminal escapes and carriage returns must not drive the
    # terminal: the bytes are shown as marks, as the window shows them.
    text = b"Line one\r\n\x1b[2JLine two\x07\n"
    stored = bytes(((b << 4) | (b >> 4)) & 0xFF for b in text)
    (data / "SecurityGB.ovk").write_bytes(stored)
    result = run_cli(data, "-y", "--language", "en")
    assert "Line one<cr>\n<esc>[2JLine two<bel>" in result.stdout, result.stdout
    assert "\x1b" not in result.stdout and "\r" not in result.stdout and "\x07" not in result.stdout
