"""Fixtures of the windowed program's tests: one private X display for the session, a fresh
working directory holding the sample data for every test, and the program launcher."""
import os
import shutil
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "scripts"))

import vfgui  # noqa: E402


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
    return _binary("VARNOFLEX_UPDATE", "app/varnoflex-update")


@pytest.fixture(scope="session")
def testbed():
    return _binary("VF_TESTBED", "sim/vf-testbed")


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
def launch(xs, program, testbed, tmp_path):
    """launch(workdir, *testbed_args, testbed=True): starts the program; ended after the test."""
    runs = []

    def start(work, *testbed_args, behind_testbed=True):
        app = vfgui.App(xs, work, program, testbed if behind_testbed else None, testbed_args,
                        memory_out=tmp_path / "memory.bin")
        runs.append(app)
        return app

    yield start
    for app in runs:
        app.stop()


@pytest.fixture(scope="session")
def screenshot_dir():
    """Where to save the screenshots for the documentation (VF_SCREENSHOT_DIR), or None."""
    return os.environ.get("VF_SCREENSHOT_DIR")
