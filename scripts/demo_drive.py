#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Clicks through varnoflex-update on a private X display as a person would: accepts the
safety instructions, presses Start, waits for the result, presses OK and Exit. Saves a
screenshot of every window it meets and prints what it saw.

    demo_drive.py PROGRAM VF_TESTBED WORKDIR SHOTDIR MEMORY_OUT
"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "app"))

import vfgui  # noqa: E402


def main(argv):
    program, testbed, workdir, shots, memory_out = argv[1:6]
    os.makedirs(shots, exist_ok=True)
    xs = vfgui.XServer()
    app = vfgui.App(xs, workdir, program, testbed, (), memory_out=memory_out)
    outcome = 1
    try:
        safety = xs.wait_window(vfgui.SAFETY_TITLE, 15)
        time.sleep(0.3)
        xs.screenshot = lambda win, name: xs.grab(win).save(os.path.join(shots, name))
        xs.screenshot(safety, "1-safety-window.png")
        print("Window: Safety Instructions -> pressing \"yes\"")
        xs.click(safety, vfgui.SAFETY_YES)
        main_win = xs.wait_window(vfgui.MAIN_TITLE)
        time.sleep(1.0)
        xs.screenshot(main_win, "2-main-window.png")
        img = xs.grab(main_win)
        print("Window: Firmware Update")
        print("  device line : " + vfgui.ocr(img, vfgui.DEVICE_LINE_BOX, light_text=True, psm=7))
        print("  version line: " + vfgui.ocr(img, vfgui.VERSION_LINE_BOX, light_text=True, psm=7))
        print("Pressing Start")
        xs.click(main_win, vfgui.START)
        time.sleep(1.5)
        xs.screenshot(main_win, "3-main-window-updating.png")
        shot = 4
        while True:
            win, img, text, kind = app.wait_result(90)
            img.save(os.path.join(shots, f"{shot}-info.png"))
            shot += 1
            print(f"Window: Info  picture: {'check mark' if kind == 'ok' else 'warning'}"
                  f"  text: {text}")
            if "All datas are downloaded" not in text:
                break
            # The verify pass runs on; the window's text changes when it ends.
            vfgui.wait_until(lambda: vfgui.ocr(xs.grab(win), vfgui.RESULT_TEXT_BOX) != text
                             or not xs.find(vfgui.INFO_TITLE), 90, what="the final result")
        app.close_result(win)
        xs.click(main_win, vfgui.EXIT)
        status = app.wait_exit(20)
        print(f"Program ended with exit status {status}")
        outcome = 0 if (kind == "ok" and status == 0) else 1
    finally:
        app.stop()
        xs.close()
    return outcome


if __name__ == "__main__":
    sys.exit(main(sys.argv))
