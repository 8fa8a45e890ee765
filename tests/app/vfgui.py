# SPDX-License-Identifier: MIT
"""Drives the real varnoflex-update as a person would: a private Xvfb display, xdotool for the
mouse and keys, python-xlib for screenshots and for closing windows from their title bar,
tesseract for reading text. The flash unit is the simulated one behind vf-testbed, which
presents it to the program as an FTDI converter.

Run with Debian's /usr/bin/python3 (python3-xlib, python3-pil, python3-pytest), with Xvfb,
xdotool and tesseract-ocr installed.
"""
import atexit
import io
import os
import shutil
import signal
import subprocess
import tempfile
import time

from PIL import Image, ImageFilter
from Xlib import X, Xatom, display as xdisplay
from Xlib.protocol import event as xevent

MAIN_TITLE = " Firmware Update"
SAFETY_TITLE = " Safety Instructions"
INFO_TITLE = "Info"
HELP_TITLE = "Help"

# Window-relative centres of the controls (the windows' fixed layout).
START = (34, 18)
EXIT = (99, 18)
HELP = (164, 18)
SAFETY_YES = (255, 281)
SAFETY_NO = (345, 281)
SAFETY_OK = (300, 281)
RESULT_OK = (200, 126)
HELP_OK = (250, 326)
# A point of the main window's red panel that the "Info" window covers.
UNDER_RESULT = (205, 130)
# Boxes (left, top, right, bottom) inside the windows.
RESULT_TEXT_BOX = (55, 10, 370, 100)
RESULT_PICTURE_BOX = (19, 44, 51, 76)
DEVICE_LINE_BOX = (215, 140, 595, 162)
VERSION_LINE_BOX = (227, 170, 595, 192)
PROGRESS_BOX = (351, 282, 597, 296)
SAFETY_TEXT_BOX = (7, 7, 593, 223)
SAFETY_QUESTION_BOX = (220, 240, 380, 262)
HELP_TEXT_BOX = (7, 7, 475, 303)


class Timeout(AssertionError):
    pass


def wait_until(pred, timeout, interval=0.05, what="condition"):
    """Polls pred() until it returns something true and returns that, or raises Timeout."""
    end = time.monotonic() + timeout
    while True:
        value = pred()
        if value:
            return value
        if time.monotonic() > end:
            raise Timeout(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


class XServer:
    """Xvfb on a free display number (-displayfd), no window manager. resources: the X
    resources a desktop session would put in the resource manager (e.g. "Xft.dpi: 192"), set
    before any client connects."""

    def __init__(self, size="1024x768x24", resources=None):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", size, "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        with os.fdopen(r, "rb") as f:
            while not number.endswith(b"\n"):
                c = f.read(1)
                if not c:
                    raise RuntimeError("Xvfb ended before it was ready")
                number += c
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)
        self.dpy = xdisplay.Display(self.display)
        if resources:
            # What xrdb -merge does: the RESOURCE_MANAGER string on the first screen's root.
            self.dpy.screen().root.change_property(
                self.dpy.intern_atom("RESOURCE_MANAGER"), Xatom.STRING, 8,
                (resources.rstrip("\n") + "\n").encode())
            self.dpy.sync()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    # ---- windows ----------------------------------------------------------------------
    def xdo(self, *args, check=True):
        r = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                           timeout=10)
        if check and r.returncode != 0:
            raise RuntimeError(f"xdotool {args} failed: {r.stderr.strip()}")
        return r.stdout

    def find(self, title):
        """Ids of the shown windows whose title is exactly title."""
        out = self.xdo("search", "--onlyvisible", "--name", f"^{title}$", check=False)
        return [int(w) for w in out.split()]

    def visible_titles(self):
        titles = []
        for child in self.dpy.screen().root.query_tree().children:
            try:
                if child.get_attributes().map_state != X.IsViewable:
                    continue
                name = child.get_wm_name()
            except Exception:   # a window that went away meanwhile
                continue
            if name is not None:
                titles.append(name.decode("latin-1") if isinstance(name, bytes) else name)
        return titles

    def wait_window(self, title, timeout=None):
        timeout = timeout or WINDOW_TIMEOUT_S
        ids = wait_until(lambda: self.find(title), timeout, what=f"window {title!r}")
        assert len(ids) == 1, f"{len(ids)} windows titled {title!r}"
        self.wait_painted(ids[0])
        return ids[0]

    def wait_painted(self, win, timeout=10.0):
        """Waits until win shows a finished picture and returns it. A window can be mapped
        before it is painted (Wine maps first and paints later: a grab then is all black),
        so a picture counts once it is not all black and two grabs in a row agree."""
        last = [None]

        def settled():
            try:
                img = self.grab(win)
            except Exception:   # the window went away meanwhile
                return None
            previous, last[0] = last[0], img
            if img.getextrema() == ((0, 0), (0, 0), (0, 0)):
                return None
            return img if previous is not None and previous.tobytes() == img.tobytes() else None

        return wait_until(settled, timeout, interval=0.1, what=f"window {win} to be painted")

    def wait_gone(self, title, timeout=5.0):
        wait_until(lambda: not self.find(title), timeout, what=f"window {title!r} to go")

    def title_of(self, win):
        name = self.dpy.create_resource_object("window", win).get_wm_name()
        return name.decode("latin-1") if isinstance(name, bytes) else name

    def click(self, win, point):
        """Left click at a window-relative point; fails when another window covers it."""
        x, y = point
        out = self.xdo("mousemove", "--window", str(win), str(x), str(y),
                       "getmouselocation", "--shell")
        under = int(dict(l.split("=", 1) for l in out.split())["WINDOW"])
        assert under == win, f"point {point} of window {win} is covered by window {under}"
        self.xdo("click", "1")

    def key(self, win, keysym):
        """A real key press into win (focus follows the pointer without a window manager)."""
        self.xdo("mousemove", "--window", str(win), "5", "5")
        self.xdo("windowfocus", "--sync", str(win), "key", keysym)

    def close_window(self, win):
        """What a window manager's close box does: WM_DELETE_WINDOW."""
        w = self.dpy.create_resource_object("window", win)
        ev = xevent.ClientMessage(window=w, client_type=self.dpy.intern_atom("WM_PROTOCOLS"),
                                  data=(32, [self.dpy.intern_atom("WM_DELETE_WINDOW"),
                                             X.CurrentTime, 0, 0, 0]))
        w.send_event(ev, event_mask=X.NoEventMask)
        self.dpy.flush()

    def hover(self, win, point):
        self.xdo("mousemove", "--window", str(win), str(point[0]), str(point[1]))

    # ---- pixels -------------------------------------------------------------------------
    def grab(self, win):
        w = self.dpy.create_resource_object("window", win)
        g = w.get_geometry()
        raw = w.get_image(0, 0, g.width, g.height, X.ZPixmap, 0xFFFFFFFF)
        return Image.frombytes("RGB", (g.width, g.height), raw.data, "raw", "BGRX")

    def grab_screen(self, box):
        root = self.dpy.screen().root
        x0, y0, x1, y1 = box
        raw = root.get_image(x0, y0, x1 - x0, y1 - y0, X.ZPixmap, 0xFFFFFFFF)
        return Image.frombytes("RGB", (x1 - x0, y1 - y0), raw.data, "raw", "BGRX")


# ---- reading what the windows show --------------------------------------------------------

# Upscaling before OCR: 2x reads FLTK's own fonts on Linux exactly. Wine draws text with
# its own fonts and without smoothing; tesseract misreads those at any plain upscale (o as
# e, d as c). Blurred by a quarter of the scale they are mostly read right, but any one
# reading still slips now and then (a letter in ten lines): under Wine (OCR_VOTE) the text
# is read at 2x, 3x and 4x and the reading that at least two agree on is taken.
OCR_SCALE = 2
OCR_VOTE = False
# How long a window may take to appear (a Wine process start is slower than a native one).
WINDOW_TIMEOUT_S = 8.0


# Words of the program's own that tesseract's dictionary lacks, offered to it as known words
# (with FLTK 1.4, whose Pango text is kerned, "rn" in "varnoflex" sits so close that it is
# read as "m" without them).
OCR_WORDS = ()
_words_file = None


def _user_words():
    global _words_file
    if not OCR_WORDS:
        return []
    if _words_file is None:
        fd, _words_file = tempfile.mkstemp(prefix="vf-ocr-words.", suffix=".txt")
        with os.fdopen(fd, "w") as f:
            f.write("\n".join(OCR_WORDS) + "\n")
        atexit.register(os.remove, _words_file)
    return ["--user-words", _words_file]


def _tesseract(img, scale, smooth, psm):
    if scale != 1:
        img = img.resize((img.width * scale, img.height * scale), Image.LANCZOS)
    if smooth:
        img = img.filter(ImageFilter.GaussianBlur(scale / 4))
    buf = io.BytesIO()
    img.save(buf, "PNG")
    r = subprocess.run(["tesseract", "stdin", "stdout", "--psm", str(psm), *_user_words()],
                       input=buf.getvalue(), capture_output=True,
                       env=dict(os.environ, OMP_THREAD_LIMIT="1"), timeout=30)
    return " ".join(r.stdout.decode(errors="replace").split())


def ocr(img, box=None, scale=None, light_text=False, psm=6):
    """Text of an image (or a box of it), upscaled OCR_SCALE times. light_text: white text on
    a coloured ground, thresholded to dark on white first."""
    if box:
        img = img.crop(box)
    if light_text:
        # The darkest channel separates white from red or grey: white text turns black.
        r, g, b = img.split()
        from PIL import ImageChops
        img = ImageChops.invert(ImageChops.darker(ImageChops.darker(r, g), b))
        img = img.point(lambda v: min(255, max(0, (v - 20) * 255 // 150)))
    else:
        img = img.convert("L")
    if not OCR_VOTE:
        return _tesseract(img, scale or OCR_SCALE, False, psm)
    readings = [_tesseract(img, s, True, psm) for s in (2, 3, 4)]
    for reading in readings:
        if readings.count(reading) >= 2:
            return reading
    return readings[1]


# Letters a reading may differ in, per 40 characters of the expected text: 0 on Linux, where
# OCR of FLTK's fonts is exact; 1 under Wine, where even the voted reading of a message
# slips a letter now and then ("A" as "4"). Different messages differ in far more letters.
OCR_SLIPS_PER_40 = 0


def edit_distance(a, b):
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        prev, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (ca != cb))
    return row[len(b)]


def reads_as(text, expected):
    """Whether an OCR reading is the expected text, within the slips OCR makes here."""
    allowed = OCR_SLIPS_PER_40 * max(1, len(expected) // 40)
    return edit_distance(text, expected) <= allowed


def count_pixels(img, box, pred):
    region = img.crop(box).getdata()
    return sum(1 for p in region if pred(p))


def is_ok_green(p):
    r, g, b = p
    return g > 110 and r < 90 and b < 90


def is_warning_yellow(p):
    r, g, b = p
    return r > 200 and g > 160 and b < 100


def is_progress_blue(p):
    r, g, b = p
    return b > 180 and r < 90 and g < 90


def is_accent_red(p):
    r, g, b = p
    return r > 180 and g < 90 and b < 80


def picture_kind(img):
    """'ok' (green check mark), 'error' (yellow warning triangle) or None."""
    green = count_pixels(img, RESULT_PICTURE_BOX, is_ok_green)
    yellow = count_pixels(img, RESULT_PICTURE_BOX, is_warning_yellow)
    if green > 40 and yellow == 0:
        return "ok"
    if yellow > 80 and green == 0:
        return "error"
    return None


def button_active(img, centre):
    """A red button is drawn in accentRed while active and greyed while inactive."""
    x, y = centre
    box = (x - 25, y - 8, x + 25, y + 8)
    return count_pixels(img, box, is_accent_red) > 200


# ---- the program --------------------------------------------------------------------------

class App:
    """One run of varnoflex-update in workdir, behind vf-testbed (or bare with testbed=None)."""

    def __init__(self, xs, workdir, program, testbed=None, testbed_args=(), memory_out=None):
        self.xs = xs
        self.workdir = str(workdir)
        self.memory_out = memory_out
        self.report = os.path.join(self.workdir, "..", "unit-report.txt")
        cmd = [program]
        if testbed:
            extra = ["--report", self.report]
            if memory_out:
                extra += ["--memory-out", str(memory_out)]
            cmd = [testbed, *extra, *testbed_args, "--", program]
        self.stderr_path = os.path.join(self.workdir, "..", "app-stderr.txt")
        self.stderr = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen(cmd, cwd=self.workdir, env=xs.env, stdout=self.stderr,
                                     stderr=subprocess.STDOUT, start_new_session=True)

    def wait_exit(self, timeout=10.0):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Timeout(f"program still running after {timeout}s") from None

    def running(self):
        return self.proc.poll() is None

    def output(self):
        self.stderr.flush()
        with open(self.stderr_path, "rb") as f:
            return f.read().decode(errors="replace")

    def stop(self):
        """Ends the run (its own process group) if a test left it running."""
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGTERM)
                self.proc.wait(5)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                try:
                    os.killpg(self.proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                self.proc.wait()
        self.stderr.close()

    # ---- steps a person takes ---------------------------------------------------------
    def accept_safety(self):
        win = self.xs.wait_window(SAFETY_TITLE)
        self.xs.click(win, SAFETY_YES)
        return self.xs.wait_window(MAIN_TITLE)

    def wait_result(self, timeout=30.0):
        """The "Info" window: (window, screenshot, text, picture kind)."""
        win = self.xs.wait_window(INFO_TITLE, timeout)
        img = self.xs.wait_painted(win)
        return win, img, ocr(img, RESULT_TEXT_BOX), picture_kind(img)

    def close_result(self, win):
        self.xs.click(win, RESULT_OK)
        self.xs.wait_gone(INFO_TITLE)
        # The main window draws again where the "Info" window stood before it is read: on a
        # busy machine Wine's repaint comes a moment after the unmap, and until then the X
        # window still holds the white of the "Info" window.
        main = self.xs.find(MAIN_TITLE)
        if main:
            wait_until(lambda: is_accent_red(self.xs.grab(main[0]).getpixel(UNDER_RESULT)), 5,
                       what="the main window to draw itself again")


def have_tools():
    return all(shutil.which(t) for t in ("Xvfb", "xdotool", "tesseract"))


def button_label(img, geometry, frame=3):
    """The label of a red button at (x, y, w, h), read from inside its frame (frame pixels
    wide: twice as many at 200 %)."""
    x, y, w, h = geometry
    return ocr(img, (x + frame, y + frame, x + w - frame, y + h - frame), light_text=True, psm=7)


START_GEOMETRY = (4, 7, 60, 22)
EXIT_GEOMETRY = (69, 7, 60, 22)
HELP_GEOMETRY = (134, 7, 60, 22)
YES_GEOMETRY = (220, 270, 70, 22)
NO_GEOMETRY = (310, 270, 70, 22)
OK_GEOMETRY = (265, 270, 70, 22)


def tooltip_window(xs):
    """The shown tooltip: a small override-redirect window without a title, or None."""
    for child in xs.dpy.screen().root.query_tree().children:
        try:
            attrs = child.get_attributes()
            if attrs.map_state != X.IsViewable or not attrs.override_redirect:
                continue
            g = child.get_geometry()
        except Exception:
            continue
        if g.height < 60 and g.width > 10:   # not a 1 x 1 helper window (Wine has one)
            return child.id
    return None


def tooltip_text(xs, win, point):
    """Rests the pointer on a control until its tooltip shows, and reads the tooltip. A
    tooltip still shown for another control is sent away first, by resting the pointer on
    the window's top right corner (no control there): FLTK 1.4 under Wine replaces the
    tooltip window for the next control, and the old one must not be read for the new."""
    if tooltip_window(xs) is not None:
        width = xs.dpy.create_resource_object("window", win).get_geometry().width
        xs.hover(win, (width - 3, 3))
        wait_until(lambda: tooltip_window(xs) is None, 4, what="the last tooltip to go")
    xs.hover(win, (point[0] + 1, point[1]))
    xs.hover(win, point)
    tip = wait_until(lambda: tooltip_window(xs), 4, what="a tooltip")
    return ocr(xs.wait_painted(tip), psm=7)
