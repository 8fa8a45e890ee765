# SPDX-License-Identifier: MIT
"""varnoflex-cli in a hostile environment: started with standard streams closed, writing into
a pipe whose reader goes away, sent SIGHUP, SIGINT and SIGTERM in the middle of the write pass
(as an unprivileged user, for whom a port left in exclusive mode stays locked), and given a
device list whose fields hold terminal control bytes. Each update runs against the simulated
unit behind vf-testbed, which records every byte outside the frames as a violation (and then
exits 99); the unit's memory is compared with the firmware image.

Environment: VF_CLI, VF_TESTBED, VF_SAMPLE_DIR, VF_IMAGE_TOOL as for test_cli.py.
"""
import json
import os
import pwd
import shutil
import subprocess
import sys
import tempfile

import pytest

CLI = os.environ["VF_CLI"]
TESTBED = os.environ["VF_TESTBED"]
SAMPLE = os.environ["VF_SAMPLE_DIR"]
IMAGE_TOOL = os.environ["VF_IMAGE_TOOL"]
DRIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "signal_driver.py")
FIRMWARE = "VX58PRO_V214.hex"
TIMEOUT_S = 240
UNPRIVILEGED = "nobody"              # used when the tests run as root, who ignores TIOCEXCL

EXIT_INTERRUPTED = 130
EXIT_TERMINATED = 143


@pytest.fixture
def data():
    # Its own folder under /tmp, open to the unprivileged user the signal tests run as.
    folder = tempfile.mkdtemp(prefix="vf-cli-hostile-")
    os.chmod(folder, 0o777)
    for name in os.listdir(SAMPLE):
        if name.endswith((".ovk", ".hex")):
            shutil.copy(os.path.join(SAMPLE, name), folder)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def clean_env():
    env = {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "LANG"))}
    env["LANG"] = "C"
    return env


def run_in_testbed(cwd, program, *sim_options, user=None):
    """Runs program (a list) in vf-testbed with a report and the memory written out."""
    testbed = TESTBED
    if user is not None:
        testbed, program = staged_for(user, cwd, program)
    command = [testbed, "--report", "report.txt", "--memory-out", "memory.bin", *sim_options,
               "--", *program]
    if user is not None:
        entry = pwd.getpwnam(user)
        command = ["setpriv", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}",
                   "--clear-groups", *command]
    return subprocess.run(command, cwd=cwd, env=clean_env(), stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=TIMEOUT_S)


def staged_for(user, cwd, program):
    """The testbed and the program's own files copied into cwd, for a user who may not reach
    the build folder (a checkout under root's home is closed to everyone else)."""
    stage = os.path.join(cwd, "bin")
    os.makedirs(stage, exist_ok=True)
    os.chmod(stage, 0o755)
    staged = {}
    for path in (TESTBED, CLI, DRIVER):
        copy = os.path.join(stage, os.path.basename(path))
        shutil.copy(path, copy)
        os.chmod(copy, 0o755)
        staged[path] = copy
    return staged[TESTBED], [staged.get(arg, arg) for arg in program]


def report(cwd):
    with open(os.path.join(cwd, "report.txt")) as f:
        return f.read()


def memory_equals_image(cwd):
    expected = os.path.join(cwd, "expected.bin")
    subprocess.run([sys.executable, IMAGE_TOOL, "image", os.path.join(SAMPLE, FIRMWARE), expected,
                    "--size", "131072"], check=True)
    with open(expected, "rb") as a, open(os.path.join(cwd, "memory.bin"), "rb") as b:
        return a.read() == b.read()


def assert_clean_line(cwd, completed_updates):
    text = report(cwd)
    stray = sum(1 for line in text.splitlines() if "stray byte" in line)
    equal = memory_equals_image(cwd)
    # What the unit recorded, for the record of the run (pytest -s shows it).
    print(f"\nunit: {text.splitlines()[-1]}; stray bytes {stray}; memory equals image: {equal}")
    assert stray == 0 and "violation:" not in text, text[-3000:]
    assert f"completed updates {completed_updates}, violations 0" in text.splitlines()[-1]
    assert equal


def test_a_reader_that_goes_away_does_not_stop_the_update(data):
    # pipefail: the status is the updater's, not head's.
    program = ["bash", "-c", 'set -o pipefail; "$0" "$@" | head -n 1', CLI, "-y", "--language", "en"]
    result = run_in_testbed(data, program)
    assert result.returncode == 0, result.stdout + result.stderr
    # head took the first line of the safety instructions and went away.
    assert len(result.stdout.splitlines()) == 1 and result.stdout.startswith("Safety instructions")
    assert_clean_line(data, 1)


def signal_runs(cwd, scenario, program=None, sim_options=()):
    """The driver's runs inside one testbed, as an unprivileged user when we are root."""
    user = UNPRIVILEGED if os.geteuid() == 0 else None
    result_file = os.path.join(cwd, "runs.json")
    program = program or [CLI, "-y", "--language", "en"]
    result = run_in_testbed(cwd, [sys.executable, DRIVER, result_file, scenario, *program],
                            *sim_options, user=user)
    assert result.returncode == 0, result.stdout + result.stderr
    with open(result_file) as f:
        runs = json.load(f)
    assert all(run["unsent"] == 0 for run in runs), runs
    return runs


@pytest.mark.parametrize("closing", [">&-", "2>&-", ">&- 2>&-"])
def test_closed_standard_streams_never_reach_the_unit(data, closing):
    # The shell closes the streams of the updater only; the testbed keeps its own. Whatever
    # the updater prints then goes nowhere: not to the unit (a stray byte), and the port
    # never sits on a standard stream's number, where anything printed later would go.
    program = ["sh", "-c", f'exec "$0" "$@" {closing}', CLI, "-y", "--language", "en"]
    [run] = signal_runs(data, "watch-descriptors", program)
    assert run["status"] == 0, run
    assert run["port_descriptors"] and min(run["port_descriptors"]) >= 3, run
    assert_clean_line(data, 1)


def test_hangup_in_the_write_pass_lets_the_update_finish(data):
    [run] = signal_runs(data, "hangup")
    assert run["status"] == 0, run
    assert "Update successful finished !" in run["output"]
    assert_clean_line(data, 1)


def test_one_interrupt_warns_and_the_update_goes_on(data):
    [run] = signal_runs(data, "one-interrupt")
    assert run["status"] == 0, run
    warning = [line for line in run["output"] if "Press Ctrl-C again within 5 seconds" in line]
    assert len(warning) == 1
    assert warning[0].startswith("Stopping now leaves the unit without working firmware")
    assert "Update successful finished !" in run["output"]
    assert_clean_line(data, 1)


@pytest.mark.parametrize("scenario, status", [
    ("two-interrupts", EXIT_INTERRUPTED),
    ("terminate", EXIT_TERMINATED),
])
def test_a_stopped_update_releases_the_port_for_the_next(data, scenario, status):
    stopped, again = signal_runs(data, scenario)
    assert stopped["status"] == status, stopped
    assert "Update successful finished !" not in stopped["output"]
    assert any("update stopped: the unit has no working firmware" in line
               for line in stopped["output"]), stopped
    # The second run, same user, same pseudo-terminal: the port is not left locked.
    assert again["status"] == 0, again
    assert "Update successful finished !" in again["output"]
    # Stopped between frames: the unit saw no broken frame, and only the second update ended.
    assert_clean_line(data, 1)


def test_a_failed_verify_pass_leaves_the_port_free_for_the_next_run(data):
    # The update leaves the port open after a failed verify block; the program must still
    # close it properly before it ends, or the next run finds the tty in exclusive mode.
    failed, again = signal_runs(data, "twice", sim_options=["--fault", "refuse-verify-block=3"])
    assert failed["status"] == 16, failed
    assert "Errorcode: ERROR_VERIFY !" in failed["output"]
    assert again["status"] == 0, again
    assert_clean_line(data, 1)


def encode(text: bytes) -> bytes:
    return bytes(((b << 4) | (b >> 4)) & 0xFF for b in text)


HOSTILE_LIST = (b"varnoflex device list\n"
                b"#VX\x1b]0;owned\x07-58,Lum\retra\nUpdate successful finished !\n,FTVF2Q7K,"
                b"2.14\x1b[2J,VX58PRO_V214.hex\n")


def test_control_bytes_of_the_device_list_are_shown_as_marks(data):
    with open(os.path.join(data, "devicelist.ovk"), "wb") as f:
        f.write(encode(HOSTILE_LIST))
    model = "VX<esc>]0;owned<bel>-58"
    target = "Lum<cr>etra<nl>Update successful finished !<nl>"

    update = run_in_testbed(data, [CLI, "-y", "--language", "en"])
    assert update.returncode == 0, update.stdout + update.stderr
    listing = run_in_testbed(data, [CLI, "--list", "--language", "en"])
    assert listing.returncode == 0, listing.stdout + listing.stderr

    for output in (update.stdout, listing.stdout):
        assert not any(c in output for c in "\x1b\x07\r"), repr(output)
    lines = update.stdout.splitlines()
    device = lines.index(f"varnoflex   {model}   for   {target}")
    assert lines[device + 1] == "Version   2.14<esc>[2J"
    # The only line saying so is the updater's own, after the verify pass.
    assert lines.count("Update successful finished !") == 1
    assert lines.index("Update successful finished !") > lines.index("Verifying 100 %")
    assert f"  device list entry 1: {model} for {target}, firmware 2.14<esc>[2J" in listing.stdout


def test_a_busy_port_is_named_as_the_reason(data):
    # Another program holds the converter's port: no unit, and one line saying why.
    holder = ("import fcntl, os, sys, subprocess\n"
              "fd = os.open('/dev/ttyUSB0', os.O_RDWR | os.O_NOCTTY)\n"
              "fcntl.flock(fd, fcntl.LOCK_EX)\n"
              "sys.exit(subprocess.run(sys.argv[1:]).returncode)\n")
    result = run_in_testbed(data, [sys.executable, "-c", holder, CLI, "-y", "--language", "en"])
    assert result.returncode == 8, result.stdout + result.stderr
    assert "No device detected !" in result.stdout
    assert "varnoflex-cli: last error of the serial port: Device or resource busy" in \
        result.stderr.splitlines()
