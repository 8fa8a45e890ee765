# SPDX-License-Identifier: MIT
"""Start with the FTDI driver's registry entries in the states a Windows machine can be in:
no driver key, a driver key without converters, and a converter that the device list does
not name. Each ends in its own "Info" message and leaves the program usable."""
import pytest

from winegui import EMPTY_KEY, NO_KEY
from vfgui import EXIT, START, reads_as

pytestmark = pytest.mark.wine_only

NO_DRIVER_TEXT = ("Errorcode: ERROR_NO_FTDI_DRIVER ! No FDTI-drivers installed ! "
                  "Please install first this driver.")
NO_ENTRY_TEXT = "Errorcode: ERROR_NO_DRIVER_ENTRY ! No device entry found in driver !"


@pytest.mark.parametrize("converters, expected", [
    (NO_KEY, NO_DRIVER_TEXT),
    (EMPTY_KEY, NO_DRIVER_TEXT),
    (["ZZQ91X0B"], NO_ENTRY_TEXT),
], ids=["no-ftdibus-key", "ftdibus-key-without-converters", "serial-not-listed"])
def test_start_reports_what_the_registry_lacks(xs, launch, workdir, converters, expected):
    app = launch(workdir, behind_testbed=False, converters=converters)
    main = app.accept_safety()
    xs.click(main, START)
    win, img, text, kind = app.wait_result(20)
    assert reads_as(text, expected), text
    assert kind == "error"
    app.close_result(win)
    # The message leaves the main window as it was: Exit still ends the program.
    xs.click(main, EXIT)
    assert app.wait_exit() == 0

