# SPDX-License-Identifier: MIT
"""Fixtures of the windowed program's tests: one private X display for the session, a fresh
working directory holding the sample data for every test, and the program launcher.

With VF_WINE_PROGRAM set to the Windows build's varnoflex-update.exe, the same tests run that
program under 64-bit Wine (winegui.py): the simulated unit vf-sim (VF_SIM) sits behind Wine's
COM7 and the converter is entered in Wine's registry, in one Wine prefix for the session."""
import os
import shutil
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "scripts"))

import vfgui  # noqa: E402
import winegui  # noqa: E402

WINE_PROGRAM = os.environ.get("VF_WINE_PROGRAM")
if WINE_PROGRAM:
    vfgui.OCR_VOTE = True
    vfgui.OCR_SLIPS_PER_40 = 1
    vfgui.WINDOW_TIMEOUT_S = 30.0
# FLTK 1.4 draws text with Pango: kerned, so that tesseract takes "rn" for "m" now and then
# and misses a thin "_" at 12 px. The program's family word is offered to it as a known word,
# and messages may differ in a letter per 40, as under Wine.
FLTK_VERSION = tuple(int(v) for v in os.environ.get("VF_FLTK_VERSION", "0.0").split(".")[:2])
if not WINE_PROGRAM and FLTK_VERSION >= (1, 4):
    vfgui.OCR_WORDS = ("varnoflex",)
    vfgui.OCR_SLIPS_PER_40 = 1


def pytest_collection_modifyitems(config, items):
    """Tests marked linux_only / wine_only are skipped where they do not apply."""
    for item in items:
        if WINE_PROGRAM and item.get_closest_marker("linux_only"):
            item.add_marker(pytest.mark.skip(reason=item.get_closest_marker("linux_only").args[0]))
        if not WINE_PROGRAM and item.get_closest_marker("wine_only"):
            item.add_marker(pytest.mark.skip(reason="runs with the Windows build under Wine"))


def pytest_configure(config):
    config.addinivalue_line("markers", "linux_only(reason): not run with the Windows build")
    config.addinivalue_line("markers", "wine_only: only run with the Windows build under Wine")


def _binary(env_name, build_relative):
    path = os.environ.get(env_name)
    if not path:
        build = os.environ.get("VF_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
        path = os.path.join(build, build_relative)
    path = os.path.abspath(path)
    if not os.access(path, os.X_OK):
        pytest.skip(f"{path} not built (set {env_name} or VF_BUILD_DIR)")
    return path


@pytest.fixture(scope="session")
def program():
    if WINE_PROGRAM:
        if not os.path.isfile(WINE_PROGRAM):
            pytest.fail(f"{WINE_PROGRAM} not built")
        return os.path.abspath(WINE_PROGRAM)
    return _binary("VARNOFLEX_UPDATE", "app/varnoflex-update")


@pytest.fixture(scope="session")
def testbed():
    """vf-testbed on Linux; under Wine the simulated unit alone (vf-sim)."""
    if WINE_PROGRAM:
        return _binary("VF_SIM", "sim/vf-sim")
    return _binary("VF_TESTBED", "sim/vf-testbed")


@pytest.fixture(scope="session")
def wine_prefix(xs):
    if not winegui.have_wine():
        pytest.fail("64-bit Wine (wine64) is not installed")
    prefix = winegui.WinePrefix(xs.env)
    yield prefix
    prefix.close()


@pytest.fixture(scope="session")
def wine_code_page_env(tmp_path_factory):
    """code_page -> the environment that starts a Windows program under Wine with that ANSI
    code page: 1252 (Western) from the C locale, 1250 (Central European) from a Polish
    locale, generated for the session (Debian ships it ungenerated)."""
    generated = {}

    def env_for(code_page):
        if code_page == 1252:
            return {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
        assert code_page == 1250, code_page
        if "pl" not in generated:
            generated["pl"] = winegui.make_locale(tmp_path_factory.mktemp("locale"), "pl_PL")
        return {"LOCPATH": generated["pl"], "LANG": "pl_PL.UTF-8", "LC_ALL": "pl_PL.UTF-8"}
    return env_for


@pytest.fixture(scope="session")
def wine_code_page_check(wine_prefix):
    """(folder, code_page, env): fails unless a Windows program started in folder with env
    runs under code_page and sees the folder's name as its bytes in that code page."""
    probe = os.environ.get("VF_WINE_CODE_PAGE_PROBE")
    if not probe or not os.path.isfile(probe):
        pytest.fail(f"the code page probe is not built (VF_WINE_CODE_PAGE_PROBE={probe})")

    def check(folder, code_page, env):
        seen = winegui.probe_code_page(wine_prefix, probe, folder, env)
        assert seen["ansiCodePage"] == code_page, seen
        name = os.path.basename(str(folder)).encode(f"cp{code_page}")
        assert bytes.fromhex(seen["workingDirectory"]).endswith(b"\\" + name), seen
    return check


@pytest.fixture(scope="session")
def sample_dir():
    return os.environ.get("VF_SAMPLE_DIR", os.path.join(SOURCE_DIR, "sample"))


@pytest.fixture(scope="session")
def xs():
    if not vfgui.have_tools():
        pytest.skip("Xvfb, xdotool or tesseract missing")
    server = vfgui.XServer()
    yield server
    server.close()


@pytest.fixture
def workdir(tmp_path, sample_dir):
    """A working directory with the sample data files (not their sources)."""
    work = tmp_path / "work"
    work.mkdir()
    for name in os.listdir(sample_dir):
        src = os.path.join(sample_dir, name)
        if os.path.isfile(src):
            shutil.copy(src, work / name)
    return work


@pytest.fixture
def launch(xs, program, testbed, tmp_path, request):
    """launch(workdir, *testbed_args, behind_testbed=True, converters=None, wine_env=None):
    starts the program; ended after the test. converters (Wine only): what the FTDI registry
    key holds, winegui.NO_KEY, winegui.EMPTY_KEY or a list of serials. wine_env (Wine only):
    variables added to Wine's environment (a locale)."""
    runs = []
    prefix = request.getfixturevalue("wine_prefix") if WINE_PROGRAM else None

    def start(work, *testbed_args, behind_testbed=True, converters=None, wine_env=None):
        if prefix:
            app = winegui.WineApp(xs, prefix, work, program, testbed, testbed_args,
                                  behind_testbed=behind_testbed,
                                  memory_out=tmp_path / "memory.bin", converters=converters,
                                  extra_env=wine_env)
        else:
            assert converters is None, "converters: Wine only"
            app = vfgui.App(xs, work, program, testbed if behind_testbed else None,
                            testbed_args, memory_out=tmp_path / "memory.bin")
        runs.append(app)
        return app

    yield start
    for app in runs:
        app.stop()


@pytest.fixture(scope="session")
def screenshot_dir():
    """Where to save the screenshots for the documentation (VF_SCREENSHOT_DIR), or None."""
    return os.environ.get("VF_SCREENSHOT_DIR")
