# SPDX-License-Identifier: MIT
"""The windows' identity on an X11 desktop: their class names the desktop entry, so docks
group them with their launcher and show its icon; their icon comes in 100 % and 200 % sizes."""
import os

import pytest

from vfgui import MAIN_TITLE, SAFETY_TITLE, SAFETY_YES

pytestmark = pytest.mark.linux_only("Windows programs have no X11 class of their own")

PACKAGING = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging")


def desktop_entry_name():
    entries = [n for n in os.listdir(PACKAGING) if n.endswith(".desktop.in")]
    assert len(entries) == 1, entries
    return entries[0][:-len(".desktop.in")]


def wm_class(xs, win):
    return xs.dpy.create_resource_object("window", win).get_wm_class()


def icon_sizes(xs, win):
    """The sizes in _NET_WM_ICON (width, height, then width x height pixels, one after another)."""
    prop = xs.dpy.create_resource_object("window", win).get_full_property(
        xs.dpy.intern_atom("_NET_WM_ICON"), 0)
    assert prop is not None, "the window has no icon"
    values, sizes = list(prop.value), []
    while values:
        width, height = values[0], values[1]
        sizes.append((width, height))
        values = values[2 + width * height:]
    return sizes


def startup_wm_class(name):
    with open(os.path.join(PACKAGING, name + ".desktop.in"), encoding="utf-8") as f:
        values = [line.split("=", 1)[1].strip() for line in f if line.startswith("StartupWMClass=")]
    assert len(values) == 1, values
    return values[0]


def test_windows_carry_the_desktop_entry_name_and_icon_sizes(xs, launch, workdir):
    name = desktop_entry_name()
    # Docks that match by StartupWMClass find the windows under the same name.
    assert startup_wm_class(name) == name
    # FLTK sends the name as given and with a capital first letter, as X11 classes go.
    expected = (name, name[0].upper() + name[1:])
    app = launch(workdir, behind_testbed=False)
    safety = xs.wait_window(SAFETY_TITLE)
    assert wm_class(xs, safety) == expected
    assert icon_sizes(xs, safety) == [(s, s) for s in (32, 48, 64, 96)]
    xs.click(safety, SAFETY_YES)
    main = xs.wait_window(MAIN_TITLE)
    assert wm_class(xs, main) == expected
    assert icon_sizes(xs, main) == [(s, s) for s in (32, 48, 64, 96)]
    app.stop()
