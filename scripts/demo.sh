#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Shows varnoflex-update updating a flash unit: the simulated unit is presented to the
# unmodified program as a real FTDI USB-serial converter (vf-testbed).
# With a display ($DISPLAY) you click through it yourself; without one the script starts
# Xvfb, clicks through as a person would, saves screenshots and prints the outcome.
# At the end it tells whether the unit's memory now holds the firmware image.
#
# Usage: scripts/demo.sh          (from anywhere; builds in <repo>/build, or $VF_BUILD_DIR)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VF_BUILD_DIR:-$repo/build}"   # VF_BUILD_DIR: build elsewhere

echo "== Packages"
"$repo/scripts/deps.sh" run

echo "== Build ($build)"
# The demo builds only what it runs: a new build folder is configured without the tests (their
# packages are the test command's to install); one the test command made keeps its tests.
testing=()
[ -f "$build/CMakeCache.txt" ] || testing=(-DBUILD_TESTING=OFF)
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${testing[@]}" >/dev/null
cmake --build "$build" -j2 --target varnoflex-update vf-testbed >/dev/null
program="$build/app/varnoflex-update"
testbed="$build/sim/vf-testbed"

run_dir=$(mktemp -d /tmp/varnoflex-demo.XXXXXX)
work="$run_dir/work"
mkdir -p "$work"
find "$repo/sample" -maxdepth 1 -type f -exec cp {} "$work/" \;
memory="$run_dir/unit-memory.bin"
firmware="$work/VX58PRO_V214.hex"   # the firmware of the sample list's first entry
echo "== Working directory: $work"

status=0
if [ -n "${DISPLAY:-}" ]; then
  echo "== Starting the program: accept the safety instructions, press Start, then Exit."
  (cd "$work" && "$testbed" --memory-out "$memory" -- "$program") || status=$?
  echo "Program ended with exit status $status"
else
  shots="$run_dir/screenshots"
  echo "== No display: Xvfb, clicking through as a user (screenshots in $shots)"
  /usr/bin/python3 "$repo/scripts/demo_drive.py" "$program" "$testbed" "$work" "$shots" "$memory" \
    || status=$?
  echo "Screenshots: $shots"
  ls -1 "$shots" | sed 's/^/  /'
fi

echo "== The unit's memory"
if [ -s "$memory" ]; then
  /usr/bin/python3 "$repo/scripts/vf_image.py" compare "$firmware" "$memory" || status=1
else
  echo "no memory dump was written"
  status=1
fi
exit "$status"
