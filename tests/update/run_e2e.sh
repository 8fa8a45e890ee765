#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs one end-to-end case of update_e2e_test under vf-testbed in a fresh copy of the sample
# data, then, unless SERIAL is "-", compares the unit's memory with the firmware image of the
# device list entry for converter SERIAL.
#   run_e2e.sh VF_TESTBED E2E_TEST SAMPLE_DIR CASE SERIAL [testbed options...]
set -u
testbed=$1 e2e=$2 sample=$3 case=$4 serial=$5
shift 5

work=$(mktemp -d "${TMPDIR:-/tmp}/vf-update-e2e-XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT INT TERM
find -H "$sample" -maxdepth 1 -type f -exec cp {} "$work"/ \;
cd "$work" || exit 1

# Exactly one test must run and pass in each step; a filter that matches nothing fails.
passed_one() {
    grep -q '^\[  PASSED  \] 1 test\.$' "$1"
}

"$testbed" "$@" --memory-out "$work/memory.bin" -- "$e2e" --gtest_filter="E2e.$case" >"$work/run.log" 2>&1
status=$?
cat "$work/run.log"
if [ "$status" -ne 0 ] || ! passed_one "$work/run.log"; then
    echo "run_e2e: case $case failed (status $status)" >&2
    exit 1
fi

if [ "$serial" != "-" ]; then
    VF_E2E_MEMORY="$work/memory.bin" VF_E2E_SERIAL="$serial" \
        "$e2e" --gtest_filter=Memory.EqualsFirmwareImage >"$work/compare.log" 2>&1
    status=$?
    cat "$work/compare.log"
    if [ "$status" -ne 0 ] || ! passed_one "$work/compare.log"; then
        echo "run_e2e: the unit's memory differs from the firmware image ($case)" >&2
        exit 1
    fi
fi
exit 0
