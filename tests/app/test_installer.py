"""The Windows installer under Wine: silent install, what it put where, the installed
window starting, and silent uninstall removing it all again."""
import glob
import os
import shutil

import pytest

import vfgui
import winegui
from vfgui import SAFETY_NO, SAFETY_TITLE

pytestmark = pytest.mark.wine_only

SHORTCUT = "Varnoflex Firmware Update.lnk"


def _installer():
    path = os.environ.get("VF_WINE_INSTALLER")
    if not path:
        pytest.skip("VF_WINE_INSTALLER (the NSIS installer of the 64-bit build) not given")
    if not os.path.isfile(path):
        pytest.fail(f"{path} not built")
    return os.path.abspath(path)


def _shortcuts(prefix):
    return glob.glob(os.path.join(prefix.path, "drive_c", "**", SHORTCUT), recursive=True)


def test_silent_install_start_and_uninstall(xs, wine_prefix, tmp_path):
    installer = _installer()
    install_dir = os.path.join(wine_prefix.path, "drive_c", "Program Files", "Varnoflex Update")
    assert not os.path.exists(install_dir)

    assert wine_prefix.run(installer, "/S", timeout=120) == 0
    installed = sorted(os.listdir(install_dir))
    for name in ("varnoflex-update.exe", "varnoflex-cli.exe", "Uninstall.exe", "data", "examples"):
        assert name in installed, f"{name} not installed: {installed}"
    # The data folder holds no sample data; the sample set is under examples only.
    assert os.listdir(os.path.join(install_dir, "data")) == ["README.txt"]
    assert "devicelist.ovk" in os.listdir(os.path.join(install_dir, "examples"))

    # The Start-menu entry starts the window in the data folder.
    shortcuts = _shortcuts(wine_prefix)
    assert len(shortcuts) == 1, shortcuts
    with open(shortcuts[0], "rb") as f:
        link = f.read()
    assert "Varnoflex Update\\data".encode("utf-16-le") in link
    assert "varnoflex-update.exe".encode("utf-16-le") in link

    # The installed window starts (here in the examples folder, which has safety texts).
    work = tmp_path / "examples"
    shutil.copytree(os.path.join(install_dir, "examples"), work)
    app = winegui.WineApp(xs, wine_prefix, work, os.path.join(install_dir, "varnoflex-update.exe"),
                          sim=None, behind_testbed=False)
    try:
        safety = xs.wait_window(SAFETY_TITLE)
        xs.click(safety, SAFETY_NO)
        assert app.wait_exit() == 0
    finally:
        app.stop()

    # Silent uninstall: the uninstaller runs from a copy of itself, so wait for the folder.
    assert wine_prefix.run(os.path.join(install_dir, "Uninstall.exe"), "/S", timeout=120) == 0
    vfgui.wait_until(lambda: not os.path.exists(install_dir), 60,
                     what="the uninstaller to remove the program folder")
    assert _shortcuts(wine_prefix) == []
