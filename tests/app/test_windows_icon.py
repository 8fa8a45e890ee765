# SPDX-License-Identifier: MIT
"""The program icon on Windows: every window shows the 32 x 32 artwork that the program file
carries as resource 105 (Wine hands a window's icon to X as _NET_WM_ICON)."""
import os

import pytest
from PIL import Image

from vfgui import MAIN_TITLE, SAFETY_TITLE, SAFETY_YES

pytestmark = pytest.mark.wine_only

ICON_FILE = os.path.join(os.path.dirname(__file__), "..", "..", "app", "resources",
                         "varnoflex-update.ico")


def on_white(rgba_pixels):
    """RGB of RGBA pixels laid over white, so that transparent parts compare equal."""
    return [tuple(round(c * a / 255 + 255 * (255 - a) / 255) for c in (r, g, b))
            for r, g, b, a in rgba_pixels]


def window_icon(xs, win):
    """The window's 32 x 32 icon as RGBA pixels, from _NET_WM_ICON (width, height, ARGB...)."""
    prop = xs.dpy.create_resource_object("window", win).get_full_property(
        xs.dpy.intern_atom("_NET_WM_ICON"), 0)
    assert prop is not None, "the window has no icon"
    values = list(prop.value)
    # The property may hold several sizes one after another: take the 32 x 32 one.
    while values:
        width, height = values[0], values[1]
        pixels = values[2:2 + width * height]
        if (width, height) == (32, 32):
            return [((v >> 16) & 255, (v >> 8) & 255, v & 255, (v >> 24) & 255) for v in pixels]
        values = values[2 + width * height:]
    pytest.fail("no 32 x 32 icon on the window")


def icon_difference(shown, expected):
    """Largest difference of one colour channel between two icons (both laid over white)."""
    return max(abs(a - b) for p, q in zip(on_white(shown), on_white(expected))
               for a, b in zip(p, q))


def test_every_window_shows_the_program_icon(xs, launch, workdir):
    # The .ico holds several sizes; the window shows the 32 x 32 one.
    expected = list(Image.open(ICON_FILE).ico.getimage((32, 32)).convert("RGBA").getdata())
    app = launch(workdir, behind_testbed=False)
    safety = xs.wait_window(SAFETY_TITLE)
    # The safety window is shown after the main window gave the window class its icon.
    assert icon_difference(window_icon(xs, safety), expected) <= 8
    xs.click(safety, SAFETY_YES)
    main = xs.wait_window(MAIN_TITLE)
    assert icon_difference(window_icon(xs, main), expected) <= 8
    app.stop()
