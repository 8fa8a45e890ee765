# SPDX-License-Identifier: MIT
"""Start with the FTDI driver's registry entries in the states a Windows machine can be in:
no driver key, a driver key without converters, a converter that the device list does not
name, each ending in its own "Info" message and leaving the program usable; and a converter
the driver remembers but that is not plugged in, named before the one that is."""
import pytest

import vf_image
from winegui import COM_PORT, EMPTY_KEY, NO_KEY
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



def test_a_remembered_converter_named_first_does_not_keep_the_connected_unit_from_its_update(
        xs, launch, workdir, tmp_path):
    # The device list's first entry names FTVF2Q7K, which the driver remembers on COM11 (no
    # such port); FTVF8H3N is plugged in on COM7. The first entry's port does not open, the
    # identification goes on to the next entry, and that unit is updated.
    app = launch(workdir, converters=[("FTVF2Q7K", "COM11"), ("FTVF8H3N", COM_PORT)])
    main = app.accept_safety()
    xs.click(main, START)
    win, _img, text, kind = app.wait_result(90)
    while "All datas are downloaded" in text:   # the verify pass's message may come first
        app.close_result(win)
        win, _img, text, kind = app.wait_result(90)
    assert reads_as(text, "OK Update successful finished !") and kind == "ok", (text, kind)
    app.close_result(win)
    xs.click(main, EXIT)
    assert app.wait_exit() == 0
    equal, message = vf_image.compare(str(workdir / "VX36C_V107.hex"), str(tmp_path / "memory.bin"))
    assert equal, message
