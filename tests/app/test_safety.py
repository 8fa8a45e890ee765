# SPDX-License-Identifier: MIT
"""The safety instructions at start-up: accepted, declined, closed, missing, and read from
folders whose names hold characters outside ASCII."""
import os
import time

import pytest

import vfgui
from vfgui import (EXIT, EXIT_GEOMETRY, HELP_GEOMETRY, MAIN_TITLE, NO_GEOMETRY, OK_GEOMETRY,
                   START_GEOMETRY, YES_GEOMETRY, button_label, tooltip_text, SAFETY_NO, SAFETY_OK, SAFETY_QUESTION_BOX,
                   SAFETY_TEXT_BOX, SAFETY_TITLE, START, SAFETY_YES, ocr)

WINE_PROGRAM = os.environ.get("VF_WINE_PROGRAM")


def test_accepting_shows_the_main_window_in_english(xs, launch, workdir, screenshot_dir):
    app = launch(workdir, behind_testbed=False)
    safety = xs.wait_window(SAFETY_TITLE)
    assert xs.find(MAIN_TITLE) == [], "the main window must stay hidden until acceptance"
    time.sleep(0.2)
    img = xs.grab(safety)
    assert "Safety instructions" in ocr(img, SAFETY_TEXT_BOX)
    assert ocr(img, SAFETY_QUESTION_BOX, light_text=True) == "Accept ?"
    assert [button_label(img, g) for g in (YES_GEOMETRY, NO_GEOMETRY)] == ["yes", "no"]
    if screenshot_dir:
        img.save(os.path.join(screenshot_dir, "safety-window.png"))

    xs.click(safety, SAFETY_YES)
    main = xs.wait_window(MAIN_TITLE)
    xs.wait_gone(SAFETY_TITLE)
    time.sleep(0.3)
    img = xs.grab(main)
    assert [button_label(img, g) for g in (START_GEOMETRY, EXIT_GEOMETRY, HELP_GEOMETRY)] == \
        ["Start", "Exit", "Help"]
    assert ocr(img, (215, 80, 466, 120), light_text=True, psm=7) == "Firmware update"
    assert tooltip_text(xs, main, START) == "Starts automatic download."
    assert tooltip_text(xs, main, EXIT) == "Closes the update software."

    xs.click(main, EXIT)
    assert app.wait_exit() == 0


def test_declining_ends_without_the_main_window(xs, launch, workdir):
    app = launch(workdir, behind_testbed=False)
    safety = xs.wait_window(SAFETY_TITLE)
    xs.click(safety, SAFETY_NO)
    end = time.monotonic() + 5
    while app.running() and time.monotonic() < end:
        assert xs.find(MAIN_TITLE) == [], "declining must not show the main window"
        time.sleep(0.02)
    assert app.wait_exit() == 0


def test_closing_the_safety_window_ends_the_program(xs, launch, workdir):
    app = launch(workdir, behind_testbed=False)
    safety = xs.wait_window(SAFETY_TITLE)
    xs.close_window(safety)
    assert app.wait_exit() == 0
    assert xs.find(MAIN_TITLE) == []


def _untitled_safety_window(xs):
    """The safety window without its text has the empty title: find it by its size."""
    def search():
        out = xs.xdo("search", "--onlyvisible", "--name", "^$", check=False)
        for wid in (int(w) for w in out.split()):
            g = xs.dpy.create_resource_object("window", wid).get_geometry()
            if (g.width, g.height) == (600, 300):
                return wid
        return None
    return vfgui.wait_until(search, vfgui.WINDOW_TIMEOUT_S, what="untitled 600x300 safety window")


def _check_built_in_text_and_ok(xs, app):
    safety = _untitled_safety_window(xs)
    assert xs.title_of(safety) == ""

    # A loaded machine can leave the window's ground drawn and settled for a moment before its
    # text: read again until the text is there (or the time is up, then the last reading fails).
    def painted_with_text():
        img = xs.wait_painted(safety)
        text = ocr(img, SAFETY_TEXT_BOX)
        return (img, text) if text.strip() else None
    try:
        img, text = vfgui.wait_until(painted_with_text, vfgui.WINDOW_TIMEOUT_S, interval=0.2,
                                     what="the safety window's text")
    except vfgui.Timeout:
        img = xs.wait_painted(safety)
        text = ocr(img, SAFETY_TEXT_BOX)
    assert "Can't read file for security advice !" in text
    assert "Application terminated !" in text
    assert button_label(img, OK_GEOMETRY) == "OK"
    # Only the one button: where "yes" and "no" would be is plain window grey.
    assert vfgui.count_pixels(img, (222, 272, 262, 290), vfgui.is_accent_red) == 0
    assert vfgui.count_pixels(img, (340, 272, 378, 290), vfgui.is_accent_red) == 0
    xs.click(safety, SAFETY_OK)
    assert app.wait_exit() == 0
    assert xs.find(MAIN_TITLE) == []


def test_missing_safety_file_shows_the_built_in_text(xs, launch, workdir):
    os.remove(workdir / "SecurityGB.ovk")   # the German one stays and is not used
    app = launch(workdir, behind_testbed=False)
    _check_built_in_text_and_ok(xs, app)


def test_too_long_working_directory_is_handled_like_an_unreadable_one(xs, launch, workdir):
    deep = workdir
    while len(str(deep)) < 300:
        deep = deep / ("d" * 40)
    deep.mkdir(parents=True)
    for name in ("SecurityGB.ovk", "HelpGB.ovk", "devicelist.ovk"):
        (deep / name).write_bytes((workdir / name).read_bytes())
    app = launch(deep, behind_testbed=False)
    _check_built_in_text_and_ok(xs, app)


# Folders named with characters outside ASCII, each with the code page it must be read in
# under Wine: the en dash and the typographic apostrophe are bytes 0x96 and 0x92 of the
# Western code page 1252, "Ł" is 0xA3 of the Central European code page 1250 (Wine started
# with a Polish locale). On Linux the names are UTF-8 and the code pages play no part.
FOLDER_NAMES = [("upd\u2013blitz", 1252), ("Blitz\u2019s update", 1252), ("\u0141ukasz", 1250)]


@pytest.mark.parametrize("folder, code_page", FOLDER_NAMES, ids=["en-dash", "apostrophe", "L-stroke"])
def test_safety_text_is_read_from_a_folder_named_outside_ascii(xs, launch, workdir, folder, code_page,
                                                               request):
    named = workdir.parent / folder
    workdir.rename(named)
    wine_env = None
    if WINE_PROGRAM:
        wine_env = request.getfixturevalue("wine_code_page_env")(code_page)
        request.getfixturevalue("wine_code_page_check")(named, code_page, wine_env)
    app = launch(named, behind_testbed=False, wine_env=wine_env)
    # The window has its title only when its text was read (else it is untitled and shows
    # the built-in text).
    safety = xs.wait_window(SAFETY_TITLE)
    img = xs.wait_painted(safety)
    assert "Safety instructions" in ocr(img, SAFETY_TEXT_BOX)
    assert ocr(img, SAFETY_QUESTION_BOX, light_text=True) == "Accept ?"
    xs.click(safety, SAFETY_NO)
    assert app.wait_exit() == 0
