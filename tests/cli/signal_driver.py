# SPDX-License-Identifier: MIT
"""Runs varnoflex-cli (inside vf-testbed, or under Wine), sends it signals at set points of
the update, and for some scenarios runs it again against the same unit and line, so that a
port left locked by the first run shows in the second.

    signal_driver.py RESULT_JSON SCENARIO PROGRAM [ARGS...]

SCENARIO: hangup, one-interrupt, two-interrupts, terminate; stop (two interrupts, one run);
twice (two runs, no signal); or
watch-descriptors (no signal; records which descriptors of the program lead to a terminal,
the port, while it runs); or group-interrupts (the program leads a process group of its own,
as a shell's job does, and the group gets SIGINT, as from a terminal's Ctrl-C, when the
first line of a write pass shows, and again a second later). Each run's exit status
(negative: killed by that signal), output and descriptors go to RESULT_JSON.
"""
import json
import os
import signal
import subprocess
import sys
import threading
import time

SEND_AT = "Writing 20 %"            # a plain progress line: the write pass is under way
WARNING = "Press Ctrl-C again"
TIMEOUT_S = 120

SCENARIOS = {
    # the signals to send: the first at SEND_AT, each further one after the warning
    "hangup": [signal.SIGHUP],
    "one-interrupt": [signal.SIGINT],
    "two-interrupts": [signal.SIGINT, signal.SIGINT],
    "stop": [signal.SIGINT, signal.SIGINT],   # as two-interrupts, without the second run
    "terminate": [signal.SIGTERM],
    "watch-descriptors": [],
    "twice": [],
}
WATCH_STEP_S = 0.01
SECOND_RUN = {"two-interrupts", "terminate", "twice"}
GROUP_SIGNAL_GAP_S = 1.0


def watch_descriptors(pid, found):
    """Samples /proc/PID/fd until the process is gone; adds every descriptor that leads to
    a pseudo-terminal (the testbed's port) to found."""
    fd_dir = f"/proc/{pid}/fd"
    while os.path.isdir(fd_dir):
        try:
            for name in os.listdir(fd_dir):
                try:
                    if os.readlink(os.path.join(fd_dir, name)).startswith("/dev/pts/"):
                        found.add(int(name))
                except OSError:
                    pass
        except OSError:
            return
        time.sleep(WATCH_STEP_S)


def run(command, signals, watch=False):
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               stdin=subprocess.DEVNULL, text=True)
    port_descriptors = set()
    watcher = threading.Thread(target=watch_descriptors, args=(process.pid, port_descriptors))
    if watch:
        watcher.start()
    lines = []
    pending = list(signals)
    for line in process.stdout:
        lines.append(line.rstrip("\n"))
        if not pending:
            continue
        # The first signal when the write pass reaches SEND_AT; each further one once the
        # warning of the one before has been printed.
        ready = SEND_AT in line if len(pending) == len(signals) else WARNING in line
        if ready:
            process.send_signal(pending.pop(0))
    status = process.wait(timeout=TIMEOUT_S)
    if watch:
        watcher.join()
    return {"status": status, "output": lines, "unsent": len(pending),
            "port_descriptors": sorted(port_descriptors)}


def run_group(command):
    """Ctrl-C at a terminal reaches the whole foreground process group: SIGINT to the group
    when a write pass first shows, and once more GROUP_SIGNAL_GAP_S later."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               stdin=subprocess.DEVNULL, text=True, process_group=0)
    sent = []

    def signal_group():
        try:
            os.killpg(process.pid, signal.SIGINT)
            sent.append(time.monotonic())
        except ProcessLookupError:   # the group has gone: the program ended
            pass

    lines = []
    second = None
    for line in process.stdout:
        lines.append(line.rstrip("\n"))
        if second is None and "Writing" in line:
            signal_group()
            second = threading.Timer(GROUP_SIGNAL_GAP_S, signal_group)
            second.start()
    status = process.wait(timeout=TIMEOUT_S)
    if second is not None:
        second.join()
    return {"status": status, "output": lines, "unsent": 2 - len(sent)}


def main(argv):
    result_path, scenario, command = argv[1], argv[2], argv[3:]
    if scenario == "group-interrupts":
        with open(result_path, "w") as out:
            json.dump([run_group(command)], out)
        return 0
    runs = [run(command, SCENARIOS[scenario], watch=scenario == "watch-descriptors")]
    if scenario in SECOND_RUN:
        runs.append(run(command, []))
    with open(result_path, "w") as out:
        json.dump(runs, out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
