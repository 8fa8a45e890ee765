# SPDX-License-Identifier: MIT
"""The window program started with its standard streams closed (as from a desktop session's
launcher, cron or a service): the null device takes their places before anything is opened,
so that neither the display connection nor a data file nor the serial port takes their
numbers. Run bare: umockdev's preload (the testbed) would itself open sockets on the closed
numbers before the program starts."""
import os
import stat

import vfgui
from vfgui import START


def standard_streams(pid):
    links = []
    for fd in range(3):
        try:
            links.append(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            links.append(None)   # closed
    return links


def test_closed_standard_streams_are_filled_before_anything_is_opened(xs, program, workdir, tmp_path):
    wrapper = tmp_path / "closed-streams.sh"
    wrapper.write_text(f'#!/bin/sh\nexec "{program}" "$@" <&- >&- 2>&-\n')
    wrapper.chmod(wrapper.stat().st_mode | stat.S_IXUSR)
    app = vfgui.App(xs, workdir, str(wrapper))
    try:
        main = app.accept_safety()
        # The display connection, the data files and the worker are all up by now.
        assert standard_streams(app.proc.pid) == ["/dev/null"] * 3
        # Without a converter the update ends with its usual message; nothing went astray.
        xs.click(main, START)
        win, _, text, kind = app.wait_result()
        assert "ERROR_NO_DRIVER_ENTRY" in text and kind == "error"
        app.close_result(win)
        xs.close_window(main)
        assert app.wait_exit() == 0
    finally:
        app.stop()
