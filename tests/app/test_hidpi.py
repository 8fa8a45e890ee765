# SPDX-License-Identifier: MIT
"""The window on a 200 % screen (192 dpi): X11 with Xft.dpi 192 in the resource manager (the
FLTK 1.4 build), Wine with LogPixels 192 (the Windows build). Every window is twice its size,
its texts read as at 100 %, and its pictures are the 200 % drawings, pixel for pixel."""
import os
import time

import pytest
from PIL import Image

import hidpi
import vfgui
import winegui
from hidpi import ACCENT_RED, OK_GREEN, WHITE, scaled
from vfgui import (DEVICE_LINE_BOX, EXIT, EXIT_GEOMETRY, HELP_GEOMETRY, INFO_TITLE, MAIN_TITLE,
                   NO_GEOMETRY, RESULT_OK, RESULT_TEXT_BOX, SAFETY_QUESTION_BOX, SAFETY_TEXT_BOX,
                   SAFETY_TITLE, SAFETY_YES, START, START_GEOMETRY, VERSION_LINE_BOX,
                   YES_GEOMETRY, button_label, ocr, reads_as)

WINE = bool(os.environ.get("VF_WINE_PROGRAM"))
PREFIX = "windows-" if WINE else ""


@pytest.fixture(scope="module")
def xs():
    """A display with room for 1200 x 600 windows, at 192 dpi for X11 programs (what a
    desktop session set to 200 % puts in the resource manager)."""
    if not vfgui.have_tools():
        pytest.skip("Xvfb, xdotool or tesseract missing")
    server = vfgui.XServer(size="2400x1500x24", resources="Xft.dpi:\t192")
    yield server
    server.close()


@pytest.fixture(scope="module")
def wine_prefix(xs):
    """A Wine prefix of its own, on the display above, with LogPixels 192 (Windows' display
    setting at 200 %)."""
    if not winegui.have_wine():
        pytest.fail("64-bit Wine (wine64) is not installed")
    prefix = winegui.WinePrefix(xs.env, log_pixels=192)
    yield prefix
    prefix.close()


def size_of(xs, win):
    g = xs.dpy.create_resource_object("window", win).get_geometry()
    return g.width, g.height


def grab_settled(xs, win):
    time.sleep(0.3)
    return xs.wait_painted(win)


def check_picture(img, name, near, ground, ink, least_crossings):
    """A 200 % screenshot shows the picture's 200 % drawing pixel for pixel near where the
    picture's top left corner lies at 100 %, and its edges are sharp (with enough of them to
    tell: a blank or wrong picture has few)."""
    drawing = hidpi.read_xpm(name + "_2x")
    (x, y), diff = hidpi.locate(img, drawing, scaled(near), 4 * hidpi.SCALE)
    assert diff < 2, \
        f"{name}: not the 200 % drawing (closest at {x}, {y}: {diff:.1f} per channel off)"
    shown = img.crop((x, y, x + drawing.width, y + drawing.height))
    share, crossings = hidpi.sharp_share(shown, ground, ink)
    assert crossings > least_crossings and share >= hidpi.SHARP_SHARE, \
        f"{name} is not sharp: {share:.0%} of {crossings} edge crossings"


def test_the_sharpness_check_tells_drawings_from_enlargements():
    """The check below passes the 200 % drawings and fails the 100 % ones enlarged to 200 %
    (nearest neighbour as a plain pixel doubling does it, bilinear as a smoothing one)."""
    for name, ground, ink in (("logo", ACCENT_RED, WHITE), ("ok", WHITE, OK_GREEN)):
        small, large = hidpi.read_xpm(name), hidpi.read_xpm(name + "_2x")
        assert large.size == scaled(small.size)
        assert hidpi.sharp_share(large, ground, ink)[0] >= hidpi.SHARP_SHARE, name
        for method in (Image.NEAREST, Image.BILINEAR):
            share, _ = hidpi.sharp_share(small.resize(large.size, method), ground, ink)
            assert share < hidpi.SHARP_SHARE, (name, method, share)


def test_windows_at_200_percent(xs, launch, workdir, tmp_path, screenshot_dir):
    app = launch(workdir)

    safety = xs.wait_window(SAFETY_TITLE)
    assert size_of(xs, safety) == scaled((600, 300))
    img = grab_settled(xs, safety)
    assert "Safety instructions" in ocr(img, scaled(SAFETY_TEXT_BOX))
    assert ocr(img, scaled(SAFETY_QUESTION_BOX), light_text=True) == "Accept ?"
    assert [button_label(img, scaled(g), frame=6) for g in (YES_GEOMETRY, NO_GEOMETRY)] == ["yes", "no"]
    if screenshot_dir:
        img.save(os.path.join(screenshot_dir, f"{PREFIX}safety-window-200.png"))

    xs.click(safety, scaled(SAFETY_YES))
    main = xs.wait_window(MAIN_TITLE)
    assert size_of(xs, main) == scaled((600, 300))
    vfgui.wait_until(lambda: ocr(xs.grab(main), scaled(DEVICE_LINE_BOX), light_text=True, psm=7),
                     5, what="the device lines")
    img = grab_settled(xs, main)
    assert [button_label(img, scaled(g), frame=6) for g in (START_GEOMETRY, EXIT_GEOMETRY,
                                                   HELP_GEOMETRY)] == ["Start", "Exit", "Help"]
    assert ocr(img, scaled((215, 80, 466, 120)), light_text=True, psm=7) == "Firmware update"
    assert ocr(img, scaled(DEVICE_LINE_BOX), light_text=True, psm=7) == \
        "varnoflex VX-58 Pro for Lumetra LX"
    assert ocr(img, scaled(VERSION_LINE_BOX), light_text=True, psm=7) == "Version 2.14"
    check_picture(img, "logo", hidpi.LOGO_AT, ACCENT_RED, WHITE, 1000)
    if screenshot_dir:
        img.save(os.path.join(screenshot_dir, f"{PREFIX}main-window-200.png"))

    xs.click(main, scaled(START))
    info = xs.wait_window(INFO_TITLE, 40)
    end = time.monotonic() + 40
    while True:   # "All datas are downloaded" may show while the verify pass runs
        img = grab_settled(xs, info)
        text = ocr(img, scaled(RESULT_TEXT_BOX))
        if "All datas are downloaded" not in text or time.monotonic() > end:
            break
    assert size_of(xs, info) == scaled((400, 150))
    assert reads_as(text, "OK Update successful finished !"), text
    check_picture(img, "ok", hidpi.RESULT_PICTURE_AT, WHITE, OK_GREEN, 150)
    if screenshot_dir:
        img.save(os.path.join(screenshot_dir, f"{PREFIX}result-ok-200.png"))

    xs.click(info, scaled(RESULT_OK))
    xs.wait_gone(INFO_TITLE)
    xs.click(main, scaled(EXIT))
    assert app.wait_exit() == 0
