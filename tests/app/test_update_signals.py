# SPDX-License-Identifier: MIT
"""Signals to the window program while it updates a unit, as from the terminal it was started
from or a session that ends: one Ctrl-C only warns and a hang-up changes nothing (the update
finishes), SIGTERM stops between frames (the unit sees no broken frame, the port is closed)
and ends the program with 143. The testbed passes each signal on to the program."""
import signal
import time

import pytest

import vfgui
from vfgui import PROGRESS_BOX, START, count_pixels, is_progress_blue, reads_as

pytestmark = pytest.mark.linux_only("a Windows window program gets no such signals")

SUCCESS_TEXT = "OK Update successful finished !"
STOP_NOTE = "update stopped: the unit has no working firmware until the next update"


def start_update(xs, app):
    main = app.accept_safety()
    xs.click(main, START)
    vfgui.wait_until(lambda: count_pixels(xs.grab(main), PROGRESS_BOX, is_progress_blue) > 100, 15,
                     what="the write pass to be under way")
    return main


def unit_report(app):
    with open(app.report) as f:
        return f.read()


@pytest.mark.parametrize("signal_number", [signal.SIGINT, signal.SIGHUP], ids=["one-ctrl-c", "hang-up"])
def test_one_ctrl_c_or_a_hang_up_lets_the_update_finish(xs, launch, workdir, signal_number):
    app = launch(workdir)
    main = start_update(xs, app)
    app.proc.send_signal(signal_number)
    time.sleep(0.5)
    assert app.running(), app.output()
    win, _img, text, kind = app.wait_result(40)
    while "All datas are downloaded" in text:   # the verify pass's message may come first
        app.close_result(win)
        win, _img, text, kind = app.wait_result(40)
    assert reads_as(text, SUCCESS_TEXT) and kind == "ok", (text, kind)
    if signal_number == signal.SIGINT:
        assert "Press Ctrl-C again within 5 seconds to stop." in app.output()
    app.close_result(win)
    xs.close_window(main)
    assert app.wait_exit() == 0   # also: the unit saw no protocol violation
    assert "completed updates 1, violations 0" in unit_report(app)


def test_sigterm_stops_the_update_between_frames_and_ends_the_program(xs, launch, workdir):
    app = launch(workdir)
    start_update(xs, app)
    app.proc.send_signal(signal.SIGTERM)
    assert app.wait_exit(15) == 143, app.output()
    assert STOP_NOTE in app.output()
    report = unit_report(app)
    # Stopped between frames: no broken frame, no violation, and the port was closed.
    assert "completed updates 0, violations 0" in report, report[-2000:]
