# SPDX-License-Identifier: MIT
"""FLTK 1.4's own Wayland back end: the program started under a headless Weston with no X
server at all shows the safety window as a native Wayland surface, under the desktop entry's
app id, at the output's scale.

Weston's headless back end has no input devices, and Debian 12's Weston ships no test plugin
that could make some: nothing can be clicked or typed here. What the test reads is Weston's
own record of its surfaces (the scene graph of its debug protocol: title, app id, process,
place and size) and a screenshot of its output (weston-screenshooter)."""
import glob
import os
import re
import shutil
import signal
import subprocess

import pytest
from PIL import Image

import vfgui
from vfgui import (NO_GEOMETRY, SAFETY_QUESTION_BOX, SAFETY_TEXT_BOX, SAFETY_TITLE, YES_GEOMETRY,
                   button_label, ocr)

pytestmark = pytest.mark.linux_only("Wayland is a Linux display protocol")

SOCKET = "vf-wayland-test"
DESKTOP_ID = "varnoflex-update"   # the desktop entry's name (test_desktop.py checks it)


class Weston:
    """weston --backend=headless-backend.so on its own runtime folder, pixman-rendered so
    that its output can be captured, with the debug protocol for the scene graph."""

    def __init__(self, folder, scale):
        self.folder = folder
        self.scale = scale
        runtime = folder / "runtime"
        runtime.mkdir(mode=0o700)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET")}
        self.env.update(XDG_RUNTIME_DIR=str(runtime), WAYLAND_DISPLAY=SOCKET)
        # The output is 1024 x 640 in the compositor's units: as many pixels times the scale.
        self.log = open(folder / "weston.log", "wb")
        self.proc = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", "--use-pixman", f"--socket={SOCKET}",
             "--width=1024", "--height=640", f"--scale={scale}",
             "--idle-time=0", "--no-config", "--debug"],
            env=self.env, stdout=self.log, stderr=self.log, start_new_session=True)
        vfgui.wait_until(lambda: (runtime / SOCKET).exists() or self.proc.poll() is not None,
                         15, what="weston's socket")
        assert self.proc.poll() is None, f"weston ended (see {folder / 'weston.log'})"

    def scene_graph(self):
        r = subprocess.run(["weston-debug", "scene-graph"], env=self.env, capture_output=True,
                           text=True, timeout=10)
        return r.stdout

    def toplevels(self):
        """Weston's top-level surfaces: (title, app id, pid, (x0, y0, x1, y1)), the place in
        the compositor's units."""
        found = []
        pattern = re.compile(r"role xdg_toplevel, PID (\d+),.*top-level window '(.*)' of (\S+),")
        lines = self.scene_graph().splitlines()
        for i, line in enumerate(lines):
            m = pattern.search(line)
            if not m:
                continue
            place = re.search(r"position: \((-?\d+), (-?\d+)\) -> \((-?\d+), (-?\d+)\)",
                              lines[i + 1])
            found.append((m.group(2), m.group(3), int(m.group(1)),
                          tuple(int(v) for v in place.groups())))
        return found

    def screenshot(self):
        """The whole output, in its pixels."""
        before = set(glob.glob(str(self.folder / "wayland-screenshot-*.png")))
        subprocess.run(["weston-screenshooter"], env=self.env, cwd=self.folder,
                       capture_output=True, timeout=15, check=True)
        new = set(glob.glob(str(self.folder / "wayland-screenshot-*.png"))) - before
        assert len(new) == 1, new
        return Image.open(new.pop()).convert("RGB")

    def close(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.log.close()


@pytest.fixture
def weston(request, tmp_path):
    if not (shutil.which("weston") and shutil.which("weston-debug")
            and shutil.which("weston-screenshooter")):
        pytest.skip("weston missing")
    compositor = Weston(tmp_path, request.param)
    yield compositor
    compositor.close()


@pytest.mark.parametrize("weston", [1, 2], indirect=True, ids=["scale-1", "scale-2"])
def test_safety_window_on_wayland(weston, program, workdir):
    scale = weston.scale
    # FLTK_BACKEND=wayland: the program ends with an error instead of falling back to X11
    # (there is no X server either).
    env = dict(weston.env, FLTK_BACKEND="wayland")
    with open(workdir / ".." / "app-output.txt", "wb") as out:
        app = subprocess.Popen([program], cwd=workdir, env=env, stdout=out,
                               stderr=subprocess.STDOUT, start_new_session=True)
    try:
        def safety_surface():
            for title, app_id, pid, place in weston.toplevels():
                if title == SAFETY_TITLE and pid == app.pid:
                    return app_id, place
            assert app.poll() is None, \
                (workdir / ".." / "app-output.txt").read_text(errors="replace")
            return None

        app_id, (x0, y0, x1, y1) = vfgui.wait_until(safety_surface, 15,
                                                     what="the safety window's surface")
        assert app_id == DESKTOP_ID

        # The surface is the window's content; the decoration's title bar and frame are
        # sub-surfaces of their own. The screenshot is in output pixels: units times scale.
        assert (x1 - x0, y1 - y0) == (600, 300)
        crop = (x0 * scale, y0 * scale, x1 * scale, y1 * scale)

        def painted():
            window = weston.screenshot().crop(crop)
            question = window.crop(tuple(v * scale for v in SAFETY_QUESTION_BOX))
            return window if vfgui.count_pixels(question, (0, 0) + question.size,
                                                vfgui.is_accent_red) > 1000 else None
        window = vfgui.wait_until(painted, 10, interval=0.3, what="the window's picture")
        assert window.size == (600 * scale, 300 * scale)
        box = lambda b: tuple(v * scale for v in b)   # noqa: E731
        assert "Safety instructions" in ocr(window, box(SAFETY_TEXT_BOX))
        assert ocr(window, box(SAFETY_QUESTION_BOX), light_text=True) == "Accept ?"
        assert [button_label(window, box(g), frame=3 * scale)
                for g in (YES_GEOMETRY, NO_GEOMETRY)] == ["yes", "no"]
        if os.environ.get("VF_SCREENSHOT_DIR") and scale == 2:
            window.save(os.path.join(os.environ["VF_SCREENSHOT_DIR"],
                                     "wayland-safety-window-200.png"))
    finally:
        if app.poll() is None:
            os.killpg(app.pid, signal.SIGTERM)
            app.wait(10)

