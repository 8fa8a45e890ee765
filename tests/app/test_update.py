# SPDX-License-Identifier: MIT
"""Updates as a person runs them: the simulated unit behind an FTDI converter, Start, the
progress, the "Info" window with its picture and text, and the unit's memory afterwards."""
import os
import time

import vf_image
import vfgui
from vfgui import (DEVICE_LINE_BOX, EXIT, INFO_TITLE, MAIN_TITLE, PROGRESS_BOX, START,
                   VERSION_LINE_BOX, button_active, count_pixels, is_progress_blue, ocr,
                   reads_as)

FIRMWARE = "VX58PRO_V214.hex"   # the firmware of the sample list's first entry
SUCCESS_TEXT = "OK Update successful finished !"


def device_lines(xs, main):
    img = xs.grab(main)
    return (ocr(img, DEVICE_LINE_BOX, light_text=True, psm=7),
            ocr(img, VERSION_LINE_BOX, light_text=True, psm=7))


def wait_final_result(app, timeout=40.0):
    """Waits for the "Info" window to show the final result: the message of code 22
    ("All datas are downloaded") may come first while the verify pass runs."""
    end = time.monotonic() + timeout
    while True:
        win, img, text, kind = app.wait_result(max(1.0, end - time.monotonic()))
        if "All datas are downloaded" not in text or time.monotonic() > end:
            return win, img, text, kind
        time.sleep(0.25)


def memory_matches(workdir, memory):
    equal, message = vf_image.compare(str(workdir / FIRMWARE), str(memory))
    return equal, message


def test_successful_update(xs, launch, workdir, tmp_path, screenshot_dir):
    app = launch(workdir)
    main = app.accept_safety()
    vfgui.wait_until(lambda: device_lines(xs, main)[0], 3, what="the device lines")
    assert device_lines(xs, main) == ("varnoflex VX-58 Pro for Lumetra LX", "Version 2.14")
    if screenshot_dir:
        xs.grab(main).save(os.path.join(screenshot_dir, "main-window.png"))

    xs.click(main, START)
    # During the update: the buttons are inactive and the progress bar grows.
    vfgui.wait_until(lambda: not button_active(xs.grab(main), START), 3,
                     what="the buttons to go inactive")
    img = xs.grab(main)
    assert not button_active(img, vfgui.EXIT) and not button_active(img, vfgui.HELP)
    filled = [count_pixels(xs.grab(main), PROGRESS_BOX, is_progress_blue)]
    vfgui.wait_until(lambda: filled.append(
        count_pixels(xs.grab(main), PROGRESS_BOX, is_progress_blue)) or filled[-1] > filled[0] + 200,
        10, what="the progress bar to grow")
    # Neither Exit nor closing the window ends the program while the update runs.
    xs.click(main, EXIT)
    xs.close_window(main)
    time.sleep(0.5)
    assert app.running() and xs.find(MAIN_TITLE) == [main]

    win, img, text, kind = wait_final_result(app)
    assert reads_as(text, SUCCESS_TEXT), text
    assert kind == "ok"
    if screenshot_dir:
        img.save(os.path.join(screenshot_dir, "result-ok.png"))
    app.close_result(win)

    # After the update: progress back to 0, buttons active, the identified unit named.
    img = xs.grab(main)
    assert count_pixels(img, PROGRESS_BOX, is_progress_blue) == 0
    assert all(button_active(img, b) for b in (START, vfgui.EXIT, vfgui.HELP))
    assert device_lines(xs, main) == ("varnoflex VX-58 Pro for Lumetra LX", "Version 2.14")

    xs.close_window(main)
    assert app.wait_exit() == 0   # also: the unit saw no protocol violation
    assert memory_matches(workdir, tmp_path / "memory.bin") == (
        True, "memory equals the firmware image (131072 bytes)")


def test_refused_block_then_successful_second_start(xs, launch, workdir, tmp_path):
    app = launch(workdir, "--fault", "refuse-write-block=5")
    main = app.accept_safety()
    xs.click(main, START)
    win, img, text, kind = app.wait_result(20)
    assert reads_as(text, "Errorcode: ERROR_WRITE_BLOCK ! Error by writing block to device. "
                          "Download canceled. Start download again !"), text
    assert kind == "error"
    app.close_result(win)
    vfgui.wait_until(lambda: button_active(xs.grab(main), START), 3, what="Start to be active")

    xs.click(main, START)
    win, img, text, kind = wait_final_result(app)
    assert reads_as(text, SUCCESS_TEXT) and kind == "ok", (text, kind)
    app.close_result(win)
    xs.click(main, EXIT)
    assert app.wait_exit() == 0
    assert memory_matches(workdir, tmp_path / "memory.bin")[0]


def test_firmware_cut_short_is_refused_and_the_unit_left_as_it_was(xs, launch, workdir, tmp_path):
    # The firmware as an interrupted download leaves it: half of it. The unit holds other
    # firmware, which must still be there afterwards, byte for byte.
    firmware = workdir / FIRMWARE
    stored = firmware.read_bytes()
    firmware.write_bytes(stored[:len(stored) // 2])
    before = bytes((i * 7 + (i >> 9)) & 0xFF for i in range(131072))
    (tmp_path / "before.bin").write_bytes(before)
    app = launch(workdir, "--memory-in", str(tmp_path / "before.bin"))
    main = app.accept_safety()
    xs.click(main, START)
    win, img, text, kind = app.wait_result(20)
    if os.environ.get("VF_SCREENSHOT_DIR"):
        img.save(os.path.join(os.environ["VF_SCREENSHOT_DIR"], "result-read-file.png"))
    # OCR reads the underscore between READ and FILE as a blank (the picture shows it).
    assert reads_as(text.replace("READ FILE", "READ_FILE"),
                    "Errorcode: ERROR_READ_FILE ! Can NOT read the updatefile !"), text
    assert kind == "error"
    app.close_result(win)
    # Nothing was written: the bar never moved past its head start and is empty again.
    img = xs.grab(main)
    assert count_pixels(img, PROGRESS_BOX, is_progress_blue) == 0
    vfgui.wait_until(lambda: button_active(xs.grab(main), START), 3, what="Start to be active")
    xs.click(main, EXIT)
    assert app.wait_exit() == 0
    assert (tmp_path / "memory.bin").read_bytes() == before


def test_silent_unit_is_not_detected(xs, launch, workdir, tmp_path):
    app = launch(workdir, "--fault", "silent", "--old-firmware")
    main = app.accept_safety()
    xs.click(main, START)
    win, img, text, kind = app.wait_result(30)
    assert reads_as(text, "No device detected !") and kind == "error", (text, kind)
    app.close_result(win)
    xs.click(main, EXIT)
    assert app.wait_exit() == 0
    assert not memory_matches(workdir, tmp_path / "memory.bin")[0]


def test_missing_device_list_after_acceptance(xs, launch, workdir):
    os.remove(workdir / "devicelist.ovk")
    app = launch(workdir)
    main = app.accept_safety()
    win, img, text, kind = app.wait_result(5)
    assert reads_as(text, "Errorcode: ERROR_OPEN_FILE_LIST ! The information file for the "
                          "updatefiles was not found ! Download not possible."), text
    assert kind == "error"
    app.close_result(win)
    img = xs.grab(main)
    for box in (DEVICE_LINE_BOX, VERSION_LINE_BOX):   # no text: no white pixel on the red
        assert count_pixels(img, box, lambda p: min(p) > 200) == 0
    xs.click(main, EXIT)
    assert app.wait_exit() == 0
    assert xs.find(INFO_TITLE) == []
