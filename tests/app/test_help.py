# SPDX-License-Identifier: MIT
"""The Help button: the English help text, a missing help file, and control characters."""
import time

from vfgui import (EXIT, HELP, HELP_OK, HELP_TEXT_BOX, HELP_TITLE, INFO_TITLE, ocr, reads_as,
                   wait_until)


def encode(text: bytes) -> bytes:
    """The data files' storage encoding: the two halves of every byte exchanged."""
    return bytes(((b << 4) | (b >> 4)) & 0xFF for b in text)


def test_help_text_missing_file_and_control_marks(xs, launch, workdir):
    app = launch(workdir, behind_testbed=False)
    main = app.accept_safety()

    xs.click(main, HELP)
    help_win = xs.wait_window(HELP_TITLE)   # the English title, without a leading space
    time.sleep(0.2)
    text = ocr(xs.grab(help_win), HELP_TEXT_BOX)
    assert text.startswith("varnoflex update - help")
    xs.click(help_win, HELP_OK)
    xs.wait_gone(HELP_TITLE)

    # Without the help file: result code 2, no help window.
    (workdir / "HelpGB.ovk").unlink()
    xs.click(main, HELP)
    win, img, text, kind = app.wait_result(3)
    assert reads_as(text, "Errorcode: ERROR_OPEN_FILE ! A file was not found ! "
                          "Are there all files in the directory ?"), text
    assert kind == "error"
    assert xs.find(HELP_TITLE) == []
    app.close_result(win)

    # Put back with CR LF line ends: every CR is a visible mark; the file is read afresh.
    (workdir / "HelpGB.ovk").write_bytes(encode(b"First line\r\nSecond line\r\n"))
    xs.click(main, HELP)
    help_win = xs.wait_window(HELP_TITLE)
    time.sleep(0.2)
    shown = ocr(xs.grab(help_win), HELP_TEXT_BOX)
    assert shown == "First line<cr> Second line<cr>"
    xs.click(help_win, HELP_OK)
    xs.wait_gone(HELP_TITLE)

    xs.click(main, EXIT)
    assert app.wait_exit() == 0
    assert xs.find(INFO_TITLE) == []
