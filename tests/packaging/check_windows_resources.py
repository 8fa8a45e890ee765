#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""What Windows reads from our program files before it runs any of their code, read back
from the built .exe files: no link time in the header (same source, same bytes); the
application manifest (supported Windows versions, common controls 6, the user's own rights,
no DPI or code page element); the version information (Explorer's Details tab); the icon in
every size the shell asks for.

usage: check_windows_resources.py --version X.Y.Z PROGRAM.exe...
Prints one line per program and check; exit status 1 when one failed."""
import argparse
import os
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_resources as pe  # noqa: E402

WINDOWS_10_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
ICON_SIZES = {(s, s) for s in (16, 24, 32, 48, 256)}
PROGRAM_ICON = 101
WINDOW_ICON = 105      # varnoflex-update.exe's main window (app/resources/resource_ids.h)


def local(tag):
    return tag.rsplit("}", 1)[-1]


def manifest_problems(text, version):
    problems = []
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        return [f"the manifest is not XML: {e}"]
    elements = list(root.iter())
    if local(root.tag) != "assembly":
        problems.append(f"the manifest's root is {local(root.tag)}, not assembly")
    supported = {e.get("Id", "").lower() for e in elements if local(e.tag) == "supportedOS"}
    if WINDOWS_10_11 not in supported:
        problems.append(f"Windows 10/11 is not among the supported systems: {sorted(supported)}")
    controls = [e for e in elements if local(e.tag) == "assemblyIdentity"
                and e.get("name") == "Microsoft.Windows.Common-Controls"]
    if not controls or controls[0].get("version") != "6.0.0.0":
        problems.append("no dependency on the common controls 6.0.0.0")
    levels = [e.get("level") for e in elements if local(e.tag) == "requestedExecutionLevel"]
    if levels != ["asInvoker"]:
        problems.append(f"requestedExecutionLevel {levels}, not asInvoker (Windows would ask "
                        "for administrator rights for a program named *update*)")
    # FLTK declares its DPI awareness itself; the programs keep the ANSI code page.
    for name in ("dpiAware", "dpiAwareness", "activeCodePage", "gdiScaling"):
        if any(local(e.tag) == name for e in elements):
            problems.append(f"the manifest declares {name}")
    own = [e for e in elements if local(e.tag) == "assemblyIdentity" and e is not None
           and e.get("name") != "Microsoft.Windows.Common-Controls"]
    if not own or own[0].get("version") != version + ".0":
        problems.append(f"the manifest's own version is not {version}.0")
    return problems


def check(path, version):
    name = os.path.basename(path)
    # The build folder in front: build-mingw32/varnoflex-cli.exe
    label = os.path.join(os.path.basename(os.path.dirname(os.path.dirname(os.path.abspath(path)))), name)
    numbers = tuple(int(n) for n in version.split(".")) + (0,)
    results = []

    def report(what, problems):
        results.append(not problems)
        print(("PASS" if not problems else "FAIL") + f" {label}: {what}"
              + "".join(f"\n    {p}" for p in problems))

    f = pe.PeFile(path)
    report("no link time in the header", [] if f.time_date_stamp == 0 else
           [f"header time stamp {f.time_date_stamp:#x}"] +
           ([] if f.resource_directory_time() == 0 else ["resource directory time stamp"]))

    manifest = f.resource(pe.RT_MANIFEST, 1)
    report("application manifest", ["no manifest (resource 24/1)"] if manifest is None
           else manifest_problems(manifest.decode("utf-8"), version))

    blob = f.resource(pe.RT_VERSION, 1)
    problems = []
    if blob is None:
        problems.append("no version information")
    else:
        fixed, strings = pe.parse_version_info(blob)
        for which in ("file", "product"):
            if fixed[which] != numbers:
                problems.append(f"{which} version {fixed[which]}, not {numbers}")
        for key in ("FileVersion", "ProductVersion"):
            if strings.get(key) != version:
                problems.append(f"{key} {strings.get(key)!r}, not {version!r}")
        if strings.get("OriginalFilename") != name:
            problems.append(f"OriginalFilename {strings.get('OriginalFilename')!r}")
        for key in ("CompanyName", "FileDescription", "ProductName"):
            if not strings.get(key):
                problems.append(f"no {key}")
        if "MIT" not in strings.get("LegalCopyright", ""):
            problems.append(f"LegalCopyright {strings.get('LegalCopyright')!r} names no licence")
    report(f"version information {version}", problems)

    groups = [PROGRAM_ICON] + ([WINDOW_ICON] if name == "varnoflex-update.exe" else [])
    problems = []
    for group in groups:
        blob = f.resource(pe.RT_GROUP_ICON, group)
        if blob is None:
            problems.append(f"no icon {group}")
        elif set(pe.icon_group_sizes(blob)) != ICON_SIZES:
            problems.append(f"icon {group} has {sorted(pe.icon_group_sizes(blob))}")
    report("icons of 16, 24, 32, 48 and 256 pixels", problems)
    return all(results)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()
    ok = True
    for path in args.programs:
        if not os.path.isfile(path):
            print(f"FAIL {path}: not built")
            ok = False
            continue
        ok = check(path, args.version) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
