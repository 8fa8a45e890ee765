# SPDX-License-Identifier: MIT
"""Runs the Windows build of varnoflex-update under 64-bit Wine for the window tests, with the
same steps as vfgui.App: the program on the test's X display, the simulated unit (vf-sim) on a
pty that Wine's COM7 is linked to, and the FTDI driver's registry entries for the converter.

One Wine prefix serves a whole test session (made once, ~15 s); each run rewrites the FTDIBUS
key to what the test asks for.
"""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

import vfgui

WINE64 = "/usr/lib/wine/wine64"
FTDIBUS = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\FTDIBUS"
COM_PORT = "COM7"
DEFAULT_CONVERTER = "FTVF2Q7K"   # the sample list's first entry, as vf-testbed presents it

# What the registry holds for a run: NO_KEY (no FTDI driver), EMPTY_KEY (the driver's key
# without converters), or a list of converters: serials (the first one on COM7, the others on
# COM11, COM12, ... which do not exist) or (serial, port) pairs.
NO_KEY = "no-key"
EMPTY_KEY = "empty-key"


def have_wine():
    return os.access(WINE64, os.X_OK) and shutil.which("wineserver") is not None


def make_locale(directory, name):
    """Generates the UTF-8 locale name (e.g. pl_PL) into directory and returns the directory,
    for LOCPATH: Wine takes its code page from the locale, and without the generated locale
    it cannot convert the names of Unix files. Needs Debian's locales package."""
    r = subprocess.run(["localedef", "-i", name, "-f", "UTF-8", os.path.join(directory, f"{name}.UTF-8")],
                       capture_output=True, text=True)
    if not os.path.isfile(os.path.join(directory, f"{name}.UTF-8", "LC_CTYPE")):
        raise RuntimeError(f"localedef {name} failed (is the locales package installed?): {r.stderr}")
    return str(directory)


def probe_code_page(prefix, probe, folder, extra_env):
    """What vf-code-page-probe.exe, started in folder with extra_env, reports: the ANSI code
    page and the working directory's bytes."""
    r = subprocess.run([WINE64, probe], cwd=str(folder), env=dict(prefix.env, **extra_env),
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r
    return json.loads(r.stdout)


class WinePrefix:
    """A fresh 64-bit Wine prefix with its own persistent wineserver. log_pixels: the screen's
    dots per inch for Windows programs (Windows' display scale: 96 is 100 %, 192 is 200 %)."""

    def __init__(self, display_env, log_pixels=None):
        self.path = tempfile.mkdtemp(prefix="vf-wine-gui.")
        self.env = dict(display_env, WINEPREFIX=self.path, WINEARCH="win64",
                        WINELOADER=WINE64, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        # Wine's own output, beside the prefix; removed with it.
        self.log_path = self.path + ".log"
        self.log = open(self.log_path, "ab")
        subprocess.run(["wineserver", "-p"], env=self.env, stdout=self.log, stderr=self.log,
                       check=True)
        r = subprocess.run([WINE64, "wineboot", "--init"], env=self.env, stdout=self.log,
                           stderr=self.log, timeout=180)
        if r.returncode != 0:
            raise RuntimeError(f"wineboot failed (see {self.path}.log)")
        if log_pixels and self.run("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                                   "/t", "REG_DWORD", "/d", str(log_pixels), "/f") != 0:
            raise RuntimeError(f"setting LogPixels failed (see {self.path}.log)")
        self.registry = None

    def run(self, *args, timeout=60):
        return subprocess.run([WINE64, *args], env=self.env, stdout=self.log, stderr=self.log,
                              timeout=timeout).returncode

    def set_converters(self, converters):
        """Rewrites the FTDIBUS key; unchanged between runs that ask for the same."""
        if converters == self.registry:
            return
        self.run("reg", "delete", FTDIBUS, "/f")
        if converters != NO_KEY:
            lines = ["Windows Registry Editor Version 5.00", "", f"[{FTDIBUS}]", ""]
            if converters != EMPTY_KEY:
                for i, converter in enumerate(converters):
                    serial, port = converter if isinstance(converter, tuple) else (
                        converter, COM_PORT if i == 0 else f"COM{10 + i}")
                    lines += [f"[{FTDIBUS}\\VID_0403+PID_6001+{serial}A\\0000\\Device Parameters]",
                              f'"PortName"="{port}"', ""]
            reg = os.path.join(self.path, "ftdibus.reg")
            with open(reg, "w", newline="\r\n") as f:
                f.write("\n".join(lines) + "\n")
            if self.run("reg", "import", reg) != 0:
                raise RuntimeError(f"reg import {reg} failed")
        self.registry = converters

    def link_com_port(self, pty_path):
        link = os.path.join(self.path, "dosdevices", COM_PORT.lower())
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(pty_path, link)

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=self.log, stderr=self.log)
        self.log.close()
        shutil.rmtree(self.path, ignore_errors=True)
        os.remove(self.log_path)


class WineApp(vfgui.App):
    """One run of varnoflex-update.exe in workdir, with the simulated unit behind COM7 when
    behind_testbed (the sim options as for vf-testbed), else with no FTDI driver entry.
    converters overrides what the registry lists; extra_env is added to Wine's environment."""

    def __init__(self, xs, prefix, workdir, program, sim, sim_args=(), behind_testbed=True,
                 memory_out=None, converters=None, extra_env=None):
        self.xs = xs
        self.workdir = str(workdir)
        self.memory_out = memory_out
        self.sim_proc = None
        if converters is None:
            converters = [DEFAULT_CONVERTER] if behind_testbed else NO_KEY
        prefix.set_converters(converters)
        if behind_testbed:
            pty_file = os.path.join(self.workdir, "..", "sim-pty")
            if os.path.exists(pty_file):
                os.remove(pty_file)
            extra = ["--memory-out", str(memory_out)] if memory_out else []
            self.sim_err = open(os.path.join(self.workdir, "..", "sim-stderr.txt"), "wb")
            self.sim_proc = subprocess.Popen([sim, *sim_args, *extra, "--pty", pty_file],
                                             stderr=self.sim_err, stdout=self.sim_err)
            vfgui.wait_until(lambda: os.path.exists(pty_file) and os.path.getsize(pty_file),
                             10, what="vf-sim's pty")
            with open(pty_file) as f:
                prefix.link_com_port(f.read().strip())
        self.stderr_path = os.path.join(self.workdir, "..", "app-stderr.txt")
        self.stderr = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen([WINE64, program], cwd=self.workdir,
                                     env=dict(prefix.env, **(extra_env or {})),
                                     stdout=self.stderr, stderr=subprocess.STDOUT,
                                     start_new_session=True)

    def _stop_sim(self):
        """Ends the simulated unit; its status tells whether it saw a protocol violation."""
        if self.sim_proc is None:
            return 0
        if self.sim_proc.poll() is None:
            self.sim_proc.send_signal(signal.SIGTERM)
        rc = self.sim_proc.wait(10)
        self.sim_proc = None
        self.sim_err.close()
        return rc

    def wait_exit(self, timeout=20.0):
        """The program's exit status, or 100 + vf-sim's status when the unit saw a violation
        (as vf-testbed reports it on Linux)."""
        rc = super().wait_exit(timeout)
        sim_rc = self._stop_sim()
        return rc if sim_rc == 0 else 100 + sim_rc

    def stop(self):
        super().stop()
        if self.sim_proc is not None:
            self.sim_proc.kill()
            self.sim_proc.wait()
            self.sim_err.close()
            self.sim_proc = None
