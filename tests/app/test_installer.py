# SPDX-License-Identifier: MIT
"""The Windows installer under Wine: silent install, what it put where, its entry in
"Apps & features" (read back from the registry), the installed window starting, and silent
uninstall removing it all again."""
import glob
import os
import re
import shutil

import pytest

import vfgui
import winegui
from vfgui import SAFETY_NO, SAFETY_TITLE

pytestmark = pytest.mark.wine_only

SHORTCUT = "Varnoflex Firmware Update.lnk"
UNINSTALL_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\varnoflex-update"


def _installer():
    path = os.environ.get("VF_WINE_INSTALLER")
    if not path:
        pytest.skip("VF_WINE_INSTALLER (the NSIS installer of the 64-bit build) not given")
    if not os.path.isfile(path):
        pytest.fail(f"{path} not built")
    return os.path.abspath(path)


def _shortcuts(prefix):
    return glob.glob(os.path.join(prefix.path, "drive_c", "**", SHORTCUT), recursive=True)


def _registry_values(prefix, key, tmp_path):
    """The values of one registry key ({name: str or int}), or None when it is absent."""
    out = tmp_path / "key.reg"
    if out.exists():
        out.unlink()
    if prefix.run("reg", "export", key, str(out), "/y") != 0 or not out.exists():
        return None
    values = {}
    for line in out.read_bytes().decode("utf-16").splitlines():
        m = re.match(r'^"([^"]+)"=(?:"(.*)"|dword:([0-9a-fA-F]{8}))$', line)
        if m:
            name, text, dword = m.groups()
            # .reg strings escape backslashes and quotes with a backslash.
            values[name] = int(dword, 16) if dword else re.sub(r"\\(.)", r"\1", text)
    return values


def _windows_path(prefix, path):
    """The Linux path of a C: path of the prefix."""
    assert path[:3].upper() == "C:\\", path
    return os.path.join(prefix.path, "drive_c", *path[3:].split("\\"))


def _tree_size(folder):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(folder)
               for f in files)


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
    # The licence, and the licences of what the programs contain (FLTK, the MinGW runtime).
    for name in ("LICENSE.txt", "THIRD-PARTY.txt", os.path.join("licenses", "FLTK.txt")):
        assert os.path.getsize(os.path.join(install_dir, name)) > 0, name

    # The entry in "Apps & features": name, version, publisher, size, links, uninstaller.
    version = re.search(r"varnoflex-update-(\d+\.\d+\.\d+)-win", installer).group(1)
    entry = _registry_values(wine_prefix, UNINSTALL_KEY, tmp_path)
    assert entry is not None, f"no {UNINSTALL_KEY}"
    assert entry["DisplayName"] == "Varnoflex Firmware Update"
    assert entry["DisplayVersion"] == version
    assert entry["Publisher"] == "The varnoflex-update developers"
    for link in ("HelpLink", "URLInfoAbout"):
        assert entry[link].startswith("https://"), entry[link]
    assert entry["NoModify"] == 1 and entry["NoRepair"] == 1
    assert _windows_path(wine_prefix, entry["InstallLocation"]) == install_dir
    assert entry["DisplayIcon"].endswith("\\varnoflex-update.exe")
    assert os.path.isfile(_windows_path(wine_prefix, entry["DisplayIcon"]))
    uninstaller = entry["UninstallString"]
    assert uninstaller.startswith('"') and uninstaller.endswith('\\Uninstall.exe"'), uninstaller
    assert os.path.isfile(_windows_path(wine_prefix, uninstaller.strip('"')))
    # The size in KiB of what was installed (the uninstaller included).
    size_kib = _tree_size(install_dir) / 1024
    assert abs(entry["EstimatedSize"] - size_kib) <= 0.02 * size_kib + 8, \
        (entry["EstimatedSize"], size_kib)

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

    # Silent uninstall: the uninstaller runs from a copy of itself, so wait for what it
    # removes; it removes the Start-menu entry after the program folder.
    assert wine_prefix.run(os.path.join(install_dir, "Uninstall.exe"), "/S", timeout=120) == 0
    vfgui.wait_until(lambda: not os.path.exists(install_dir) and not _shortcuts(wine_prefix), 60,
                     what="the uninstaller to remove the program folder and the Start-menu entry")
    assert _registry_values(wine_prefix, UNINSTALL_KEY, tmp_path) is None
