#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs one end-to-end case of update_e2e_test under vf-testbed in a fresh copy of the sample
# data, then checks what the unit holds, by SERIAL:
#   a converter serial  the unit's memory equals the firmware image of that serial's device
#                       list entry (as the data folder holds it after the case)
#   untouched           the unit's memory is what it was before, byte for byte, and the unit
#                       received nothing after its identification (no range command, no block)
#   unused              as untouched, and the unit received nothing at all
#   checked             the unit's memory is what it was before, byte for byte, and the unit
#                       received no blank check, erase, program mode or write block (a check)
#   -                   nothing
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

untouched=0
case "$serial" in
    untouched|unused|checked) untouched=1 ;;
esac
if [ $untouched -eq 1 ]; then
    # The unit's memory as these options make it, with no program talking to it.
    "$testbed" "$@" --memory-out "$work/before.bin" -- true >"$work/before.log" 2>&1 ||
        { cat "$work/before.log"; echo "run_e2e: the testbed does not start ($case)" >&2; exit 1; }
    set -- "$@" --record "$work/record.txt"
fi

"$testbed" "$@" --memory-out "$work/memory.bin" -- "$e2e" --gtest_filter="E2e.$case" >"$work/run.log" 2>&1
status=$?
cat "$work/run.log"
if [ "$status" -ne 0 ] || ! passed_one "$work/run.log"; then
    echo "run_e2e: case $case failed (status $status)" >&2
    exit 1
fi

if [ $untouched -eq 1 ]; then
    cmp "$work/before.bin" "$work/memory.bin" ||
        { echo "run_e2e: the unit's memory changed ($case)" >&2; exit 1; }
    # Range commands (blank check, erase, program mode, checksum, verify) are 01 07 frames.
    pattern='^(frame 01 07 |block )'
    [ "$serial" = "unused" ] && pattern='^(frame |block |wake byte)'
    [ "$serial" = "checked" ] && pattern='^(frame 01 07 (32|20|40) |block write )'
    if grep -E "$pattern" "$work/record.txt"; then
        echo "run_e2e: the unit received the frames above ($case)" >&2
        exit 1
    fi
    echo "run_e2e: memory unchanged, nothing sent beyond what $serial allows ($case)"
elif [ "$serial" != "-" ]; then
    VF_E2E_MEMORY="$work/memory.bin" VF_E2E_SERIAL="$serial" VF_E2E_SAMPLE_DIR="$sample" \
        "$e2e" --gtest_filter=Memory.EqualsFirmwareImage >"$work/compare.log" 2>&1
    status=$?
    cat "$work/compare.log"
    if [ "$status" -ne 0 ] || ! passed_one "$work/compare.log"; then
        echo "run_e2e: the unit's memory differs from the firmware image ($case)" >&2
        exit 1
    fi
fi
exit 0
