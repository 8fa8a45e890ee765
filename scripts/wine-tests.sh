#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the Windows build's tests under 32-bit Wine: the Windows unit tests, the registry walk
# against .reg cases, whole updates by varnoflex-cli.exe through a Wine COM port linked
# to the pty of the simulated unit (vf-sim, Linux build), and a service bench (--all with
# remembered converters, a stop, a busy port, converters sharing a serial).
#
# usage: wine-tests.sh setup|unit|registry|update|folders|serial|bench|latency|check|cleanup|all
# Environment (ctest sets it; defaults suit a checkout with build-mingw64 and build):
#   VF_WINE_PREFIX     the Wine prefix to make and use (removed by cleanup)
#   VF_MINGW_BUILD     the MinGW build directory (cmake/toolchain-mingw32.cmake, or
#                      toolchain-mingw64.cmake where the kernel runs no 32-bit programs)
#   VF_SIM             vf-sim of the Linux build
#   VF_SAMPLE_DIR      the sample data set
#   VF_REGISTRY_CASES  the folder of the registry cases (NAME.reg + NAME.expected)
# One prefix serves all cases of a run: "setup" makes it fresh and starts its wineserver,
# "cleanup" stops the server and removes the prefix.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${VF_WINE_PREFIX:-$here/build/wine-prefix}
mingw=${VF_MINGW_BUILD:-$here/build-mingw64}
sim=${VF_SIM:-$here/build/sim/vf-sim}
sample=${VF_SAMPLE_DIR:-$here/sample}
cases=${VF_REGISTRY_CASES:-$here/tests/win/registry}
logs=$WINEPREFIX.logs
# The prefix takes the architecture of the Windows build: win32 for i686, win64 for x86_64
# (a machine whose kernel runs no 32-bit programs can only use the 64-bit build).
. "$here/scripts/wine-loader.sh"
if ! wine_pick_loader "$mingw/cli/varnoflex-cli.exe"; then
    # Without a program the architecture does not matter; the later steps say what is missing.
    export WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
fi
wine_arch=$WINEARCH
wine() { "$WINELOADER" "$@"; }
export WINEARCH=$wine_arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

ftdibus='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
com_port=com7                       # the Wine COM port linked to the simulated unit's pty
firmware=VX58PRO_V214.hex           # the firmware of the sample list's first entry

fail() { echo "FAIL: $*"; exit 1; }

# Runs a Windows program with a time limit (exit 124 when it is exceeded). Windows programs
# print CR LF; the tests compare plain lines.
wine_run() {
    timeout 120 "$WINELOADER" "$@" 2>>"$logs/wine-stderr.log" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

need_prefix() {
    [ -d "$WINEPREFIX/drive_c" ] || fail "no Wine prefix at $WINEPREFIX (run setup first)"
    mkdir -p "$logs"
    # Each ctest entry is its own process: make sure the prefix's server is up.
    wineserver -p >>"$logs/wineserver.log" 2>&1
}

do_setup() {
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX" "$logs"
    mkdir -p "$WINEPREFIX" "$logs"
    # A persistent server of our own for this prefix; its exit chatter goes to a log.
    wineserver -p >"$logs/wineserver.log" 2>&1
    if ! wine wineboot --init >"$logs/wineboot.log" 2>&1; then
        grep -q 'Exec format error' "$logs/wineboot.log" \
            && echo "32-bit Wine cannot start: this kernel runs no 32-bit programs (ia32_emulation=off);" \
                    "use the 64-bit build (cmake/toolchain-mingw64.cmake)"
        fail "wineboot (see $logs/wineboot.log)"
    fi
    echo "PASS setup: $WINEARCH prefix $WINEPREFIX"
}

do_cleanup() {
    WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX"
    echo "PASS cleanup"
}

do_unit() {
    need_prefix
    local exe=$mingw/tests/win/vf-win-tests.exe
    [ -f "$exe" ] || fail "$exe not built"
    wine_run "$exe" --gtest_color=no >"$logs/unit.out"
    local rc=$?
    grep -E '^\[  (PASSED|FAILED) ' "$logs/unit.out" | head -20
    grep -E '^\[  FAILED  \]' "$logs/unit.out" | head -20
    [ $rc -eq 0 ] || fail "vf-win-tests.exe exit $rc (see $logs/unit.out)"
    echo "PASS unit"
}

# Replaces the FTDIBUS key with the contents of one .reg file (none: the key is absent).
load_registry() {
    wine reg delete "$ftdibus" /f >/dev/null 2>&1
    if [ -n "${1:-}" ]; then
        wine reg import "$1" >>"$logs/reg-import.log" 2>&1 || fail "reg import $1"
    fi
}

# A case's .expected file holds blocks: a line "$ ARGS" (probe arguments, shell-quoted)
# followed by the lines the probe must print.
run_registry_case() {
    local name=$1 reg=$cases/$1.reg expected=$cases/$1.expected
    [ -s "$reg" ] && load_registry "$reg" || load_registry ""
    local actual=$logs/registry-$name.out
    : >"$actual"
    local line args
    while IFS= read -r line; do
        [ "${line:0:2}" = '$ ' ] || continue
        eval "args=(${line:2})"
        echo "$line" >>"$actual"
        wine_run "$mingw/tests/win/vf-registry-probe.exe" "${args[@]}" >>"$actual"
    done <"$expected"
    if diff -u "$expected" "$actual" >"$logs/registry-$name.diff"; then
        echo "PASS registry $name"
        return 0
    fi
    echo "FAIL registry $name"
    cat "$logs/registry-$name.diff"
    return 1
}

do_registry() {
    need_prefix
    [ -f "$mingw/tests/win/vf-registry-probe.exe" ] || fail "vf-registry-probe.exe not built"
    local failed=0 expected
    for expected in "$cases"/*.expected; do
        run_registry_case "$(basename "$expected" .expected)" || failed=1
    done
    load_registry ""
    [ $failed -eq 0 ] || fail "registry cases"
    echo "PASS registry"
}

# The FTDI driver's entry for the sample list's first converter, on the linked port.
load_first_converter() {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s\\VID_0403+PID_6001+FTVF2Q7KA\\0000\\Device Parameters]\r\n"PortName"="%s"\r\n' \
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS" "${com_port^^}" >"$work/ftdibus.reg"
    load_registry "$work/ftdibus.reg"
}

# Starts vf-sim on a fresh pty with the given options and links the Wine COM port to it.
sim_pid=""
start_sim() {
    start_sim_at "$com_port" "$@"
    sim_pid=$last_sim_pid
}

# The same for the Wine COM port given first (e.g. com8); its pid is left in last_sim_pid.
last_sim_pid=""
start_sim_at() {
    local port=$1
    shift
    start_sim_linked "$WINEPREFIX/dosdevices/$port" "$work/pty-path-$port" "$@"
}

# Starts vf-sim on a fresh pty with the options after the first two and points the link
# given first at its pty (its path also in the file given second); its pid in last_sim_pid.
start_sim_linked() {
    local link=$1 pathfile=$2
    shift 2
    rm -f "$pathfile"
    "$sim" "$@" --pty "$pathfile" 2>>"$work/sim.err" &
    last_sim_pid=$!
    for _ in $(seq 200); do [ -s "$pathfile" ] && break; sleep 0.05; done
    [ -s "$pathfile" ] || fail "vf-sim did not start (see $work/sim.err)"
    ln -sfn "$(cat "$pathfile")" "$link"
}

# Plugs COM ports in, as Windows sees a converter that is there: Wine's mount manager gives a
# port a DOS device name (what varnoflex-cli asks QueryDosDevice for) only for the ports in
# HKLM\Software\Wine\Ports when it starts, so the values are set and the prefix's server
# restarted. Arguments: COMn=UNIX_PATH ...; the ports not given are unplugged. A port plugged
# to a link of the test's own can be moved to another simulated unit without a restart.
wine_ports='HKLM\Software\Wine\Ports'
plug_ports() {
    wine reg delete "$wine_ports" /f >/dev/null 2>&1
    local port
    for port in "$@"; do
        wine reg add "$wine_ports" /v "${port%%=*}" /d "${port#*=}" /f >>"$logs/reg-import.log" 2>&1 \
            || fail "plugging in ${port%%=*}"
    done
    wineserver -k
    wineserver -w
    wineserver -p >>"$logs/wineserver.log" 2>&1
}

# Stops vf-sim; its status says whether it saw a protocol violation.
stop_sim() {
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid"
    local rc=$?
    sim_pid=""
    return $rc
}

# The start of a case that updates units: the prefix, the programs, and a fresh work folder
# ($work) holding a copy of the data set in $work/data.
begin_case() {   # NAME
    need_prefix
    cli=$mingw/cli/varnoflex-cli.exe
    [ -f "$cli" ] || fail "$cli not built"
    [ -x "$sim" ] || fail "vf-sim not found at $sim"
    work=$(mktemp -d "${TMPDIR:-/tmp}/vf-wine-$1.XXXXXX")
    mkdir "$work/data"
    cp "$sample"/*.ovk "$sample"/*.hex "$work/data/"
}

do_update() {
    begin_case update
    trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
    python3 "$here/scripts/vf_image.py" image "$sample/$firmware" "$work/expected.bin" --size 131072 \
        || fail "vf_image"

    load_first_converter

    # --list finds the converter without opening a port; its COM port is not there yet.
    (cd "$work/data" && wine_run "$cli" --list --language en) >"$work/list.out"
    grep -q "^Converter FTVF2Q7K at COM7 (not connected)$" "$work/list.out" \
        && grep -q "entry 1: VX-58 Pro for Lumetra LX" "$work/list.out" \
        || { cat "$work/list.out"; fail "--list under Wine"; }
    echo "PASS update: --list"

    # A block refused in the write pass: exit 12; the unit keeps its memory for the next run.
    start_sim --memory-out "$work/memory-refused.bin" --fault refuse-write-block=100
    (cd "$work/data" && wine_run "$cli" -y --language en) >"$work/refused.out"
    local rc=$?
    stop_sim || { cat "$work/sim.err"; fail "vf-sim saw a protocol violation (refused block)"; }
    [ $rc -eq 12 ] || { cat "$work/refused.out"; fail "refused block: exit $rc, expected 12"; }
    grep -q "Errorcode: ERROR_WRITE_BLOCK !" "$work/refused.out" || fail "no ERROR_WRITE_BLOCK message"
    echo "PASS update: refused block gives exit 12"

    # A whole update: exit 0 and the unit's memory equals the firmware image byte for byte.
    start_sim --memory-in "$work/memory-refused.bin" --memory-out "$work/memory.bin"
    local start=$(date +%s.%N)
    (cd "$work/data" && wine_run "$cli" -y --language en) >"$work/update.out"
    rc=$?
    local seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f", b-a}')
    stop_sim || { cat "$work/sim.err"; fail "vf-sim saw a protocol violation (update)"; }
    [ $rc -eq 0 ] || { cat "$work/update.out"; fail "update: exit $rc, expected 0"; }
    grep -q "^varnoflex   VX-58 Pro   for   Lumetra LX$" "$work/update.out" || fail "no device line"
    grep -q "^All datas are downloaded.$" "$work/update.out" || fail "no OK_DOWNLOADED message"
    grep -q "^Update successful finished !$" "$work/update.out" || fail "no OK_UPDATE_FINISHED message"
    cmp "$work/expected.bin" "$work/memory.bin" || fail "the unit's memory differs from the firmware image"
    echo "PASS update: exit 0, memory equals the image (${seconds}s)"

    # The firmware file cut inside a record, as an interrupted download leaves it: exit 3,
    # the problem named, and the unit (holding the firmware of the update above) untouched.
    mkdir "$work/cut" && cp "$work/data"/* "$work/cut/"
    python3 - "$work/cut/$firmware" <<'CUT' || fail "cutting the firmware"
import sys
stored = open(sys.argv[1], "rb").read()
mark = stored.index(b"\xa3", len(stored) // 2)   # a record's colon in the storage encoding
open(sys.argv[1], "wb").write(stored[:mark + 20])
CUT
    start_sim --memory-in "$work/memory.bin" --memory-out "$work/memory-cut.bin" --record "$work/record-cut.txt"
    (cd "$work/cut" && wine_run "$cli" -y --language en) >"$work/cut.out"
    rc=$?
    stop_sim || { cat "$work/sim.err"; fail "vf-sim saw a protocol violation (cut firmware)"; }
    [ $rc -eq 3 ] || { cat "$work/cut.out"; fail "cut firmware: exit $rc, expected 3"; }
    grep -q "^Can NOT read the updatefile !" "$work/cut.out" &&
        grep -Eq "^$firmware: line [0-9]+, record [0-9]+: the record is cut short" "$work/cut.out" ||
        { cat "$work/cut.out"; fail "cut firmware: no ERROR_READ_FILE message naming the problem"; }
    cmp "$work/memory.bin" "$work/memory-cut.bin" || fail "cut firmware: the unit's memory changed"
    ! grep -E '^(frame 01 07 |block )' "$work/record-cut.txt" || fail "cut firmware: the unit was sent the frames above"
    echo "PASS update: a cut firmware file gives exit 3, names the problem, leaves the unit as it was"

    # Started without standard output and error (a scheduled task, a service): the update
    # runs all the same, nothing but frames reach the unit, the exit status is its result.
    start_sim --memory-out "$work/memory-closed.bin"
    (cd "$work/data" && timeout 120 "$WINELOADER" "$cli" -y --language en >&- 2>&-)
    rc=$?
    stop_sim || { cat "$work/sim.err"; fail "vf-sim saw a protocol violation (closed handles)"; }
    [ $rc -eq 0 ] || fail "closed standard handles: exit $rc, expected 0"
    cmp "$work/expected.bin" "$work/memory-closed.bin" || fail "closed standard handles: memory differs"
    echo "PASS update: closed standard output and error, exit 0, memory equals the image"

    # Two console Ctrl-C in the write pass (Wine turns SIGINT into CTRL_C_EVENT): the first
    # warns, the second stops between frames with exit 130; the next update succeeds.
    start_sim --memory-out "$work/memory-interrupted.bin"
    (cd "$work/data" && timeout 240 python3 "$here/tests/cli/signal_driver.py" "$work/runs.json" \
        two-interrupts "$WINELOADER" "$cli" -y --language en 2>>"$logs/wine-stderr.log")
    stop_sim || { cat "$work/sim.err"; fail "vf-sim saw a protocol violation (Ctrl-C)"; }
    python3 - "$work/runs.json" <<'CHECK' || fail "Ctrl-C under Wine (runs in $work/runs.json)"
import json, sys
stopped, again = json.load(open(sys.argv[1]))
assert stopped["unsent"] == 0 and stopped["status"] == 130, stopped
assert any("Press Ctrl-C again within 5 seconds" in line for line in stopped["output"]), stopped
assert again["status"] == 0, again
CHECK
    cmp "$work/expected.bin" "$work/memory-interrupted.bin" || fail "Ctrl-C: memory differs after the second update"
    echo "PASS update: two Ctrl-C stop with exit 130, the next update succeeds"

    # An FTDIBUS key without converters: the discovery fails, exit 6, no port opened.
    load_registry "$cases/empty-key.reg"
    (cd "$work/data" && wine_run "$cli" -y) >"$work/nodriver.out"
    rc=$?
    [ $rc -eq 6 ] || { cat "$work/nodriver.out"; fail "empty FTDIBUS key: exit $rc, expected 6"; }
    echo "PASS update: empty FTDIBUS key gives exit 6"
    load_registry ""
}

# Generates the UTF-8 locale $2 (e.g. pl_PL) into the folder $1, for LOCPATH: Wine takes its
# ANSI code page from the locale, and without the generated locale it cannot convert the
# names of Unix files. Debian ships the locale sources (package locales) ungenerated.
make_locale() {
    localedef -i "$2" -f UTF-8 "$1/$2.UTF-8" >>"$logs/localedef.log" 2>&1
    [ -f "$1/$2.UTF-8/LC_CTYPE" ] || fail "localedef $2 (is the locales package installed? see $logs/localedef.log)"
}

# The program started in folders whose names hold characters outside ASCII, in the code
# page that holds them: an en dash (0x96) and a typographic apostrophe (0x92) under the
# Western code page 1252, "Ł" (0xA3) under the Central European code page 1250 (Wine started
# with a Polish locale). Each folder holds the sample data set; the program must read its
# safety text, device list and firmware from there, and a whole update ends with code 23. A probe checks first that the code page is in effect and that the program
# sees the folder's name as those bytes, so that no case passes for want of its code page.
do_folders() {
    need_prefix
    local cli=$mingw/cli/varnoflex-cli.exe probe=$mingw/tests/win/vf-code-page-probe.exe
    [ -f "$cli" ] || fail "$cli not built"
    [ -f "$probe" ] || fail "$probe not built"
    [ -x "$sim" ] || fail "vf-sim not found at $sim"
    work=$(mktemp -d "${TMPDIR:-/tmp}/vf-wine-folders.XXXXXX")
    trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
    make_locale "$work" pl_PL
    python3 "$here/scripts/vf_image.py" image "$sample/$firmware" "$work/expected.bin" --size 131072 \
        || fail "vf_image"
    load_first_converter

    # The second case names its folder with --data-dir (as --all names it to its children)
    # instead of starting in it.
    local failed=0 case folder code_page locale data_dir_option dir rc
    for case in "upd–blitz|1252|C.UTF-8|" "Blitz’s update|1252|C.UTF-8|-d" "Łukasz|1250|pl_PL.UTF-8|"; do
        IFS='|' read -r folder code_page locale data_dir_option <<<"$case"
        dir=$work/$folder
        mkdir "$dir" && cp "$sample"/*.ovk "$sample"/*.hex "$dir/"
        (
            # For Wine's programs; this shell itself need not know the locale (no warning).
            [ "$locale" = C.UTF-8 ] || export LOCPATH=$work
            { export LANG=$locale LC_ALL=$locale; } 2>/dev/null
            cd "$dir" || exit 1
            wine_run "$probe" >"$work/probe.json" || exit 1
            python3 - "$work/probe.json" "$code_page" "$folder" <<'CHECK' || exit 1
import json, sys
seen = json.load(open(sys.argv[1]))
code_page, folder = int(sys.argv[2]), sys.argv[3]
assert seen["ansiCodePage"] == code_page, f"code page {seen['ansiCodePage']}, not {code_page}"
name = b"\\" + folder.encode(f"cp{code_page}")
assert bytes.fromhex(seen["workingDirectory"]).endswith(name), f"working directory {seen['workingDirectory']}"
CHECK
            start_sim --memory-out "$work/memory.bin"
            if [ -n "$data_dir_option" ]; then
                (cd .. && wine_run "$cli" -y --language en -d "$folder" --json "$folder/report.json")
            else
                wine_run "$cli" -y --language en --json report.json
            fi >"$work/update.out"
            rc=$?
            stop_sim || { cat "$work/sim.err"; exit 1; }
            [ $rc -eq 0 ] || { cat "$work/update.out"; echo "exit $rc, expected 0"; exit 1; }
            python3 -c 'import json,sys; u, = json.load(open(sys.argv[1]))["units"]; assert u["result"]["code"] == 23, u' \
                report.json || exit 1
            cmp "$work/expected.bin" "$work/memory.bin" || exit 1
        )
        if [ $? -eq 0 ]; then
            echo "PASS folders: '$folder' under code page $code_page: data read, update ends with 23"
        else
            echo "FAIL folders: '$folder' under code page $code_page"
            failed=1
        fi
        rm -f "$work/memory.bin"
    done
    load_registry ""
    [ $failed -eq 0 ] || fail "folders named outside ASCII"
    echo "PASS folders"
}

# Two converters in the registry, a unit behind each: --serial updates only the one asked
# for and never opens the other's port; --json reports it; a listed serial that is not
# present gives 7; --all updates both at once, one of them failing.
do_serial() {
    begin_case serial
    first_pid="" second_pid=""   # global: the exit trap runs after this function has returned
    trap 'kill ${first_pid:-} ${second_pid:-} 2>/dev/null; rm -rf "$work"' EXIT
    python3 "$here/scripts/vf_image.py" image "$sample/VX36C_V107.hex" "$work/expected.bin" --size 32768 \
        || fail "vf_image"
    # The driver's latency timers: 16 ms (its default) on COM7, 1 ms on COM8.
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s\\VID_0403+PID_6001+FTVF2Q7KA\\0000\\Device Parameters]\r\n"PortName"="COM7"\r\n"LatencyTimer"=dword:00000010\r\n\r\n[%s\\VID_0403+PID_6001+FTVF8H3NA\\0000\\Device Parameters]\r\n"PortName"="COM8"\r\n"LatencyTimer"=dword:00000001\r\n' \
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS" \
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS" >"$work/ftdibus.reg"
    load_registry "$work/ftdibus.reg"

    # VX-36 Compact units: 32 KiB, as its firmware (a smaller unit would refuse it).
    start_sim_at com7 --end-address 7FFF --record "$work/record7.txt"
    first_pid=$last_sim_pid
    start_sim_at com8 --end-address 7FFF --record "$work/record8.txt" --memory-out "$work/memory8.bin"
    second_pid=$last_sim_pid
    (cd "$work/data" && wine_run "$cli" -y --language en --serial FTVF8H3N --json report.json) >"$work/serial.out"
    local rc=$?
    kill -TERM "$first_pid" "$second_pid"
    wait "$first_pid" || { cat "$work/sim.err"; fail "vf-sim on COM7 saw a protocol violation"; }
    wait "$second_pid" || { cat "$work/sim.err"; fail "vf-sim on COM8 saw a protocol violation"; }
    first_pid="" second_pid=""
    [ $rc -eq 0 ] || { cat "$work/serial.out"; fail "--serial FTVF8H3N: exit $rc, expected 0"; }
    grep -q "^varnoflex   VX-36 Compact   for   Korin KM$" "$work/serial.out" || fail "no device line of VX-36"
    cmp "$work/expected.bin" "$work/memory8.bin" || fail "the unit on COM8 does not hold the firmware image"
    ! grep -q -e '^frame ' -e '^wake byte' "$work/record7.txt" || fail "the port of the other converter was used"
    python3 - "$work/data/report.json" <<'PYTHON' || fail "--json report under Wine"
import json, sys
unit, = json.load(open(sys.argv[1]))["units"]
assert (unit["serial"], unit["port"]) == ("FTVF8H3N", "COM8"), unit
assert unit["entry"]["firmwareFile"] == "VX36C_V107.hex", unit
assert [c["code"] for c in unit["stored"]] == [22, 23], unit
assert unit["result"] == {"code": 23, "name": "OK_UPDATE_FINISHED"}, unit
assert (unit["blocksWritten"], unit["blocksVerified"]) == (128, 128), unit
assert unit["firmwareProblem"] is None, unit
PYTHON
    echo "PASS serial: --serial FTVF8H3N updates the unit on COM8 only; --json reports it"

    (cd "$work/data" && wine_run "$cli" -y --language en --serial FTVF5M9R --json -) >"$work/absent.json"
    rc=$?
    [ $rc -eq 7 ] || fail "--serial of a converter that is not present: exit $rc, expected 7"
    python3 -c 'import json,sys; u=json.load(open(sys.argv[1]))["units"][0]; assert u["result"]["code"] == 7 and u["port"] is None, u' \
        "$work/absent.json" || { cat "$work/absent.json"; fail "--json - under Wine"; }
    echo "PASS serial: a listed converter that is not present gives 7, reported on standard output"

    # --all: a child process per converter; the unit on COM7 refuses block 5, the one on
    # COM8 is updated all the same, and the exit status is the first failure's, 12.
    start_sim_at com7 --fault refuse-write-block=5
    first_pid=$last_sim_pid
    start_sim_at com8 --end-address 7FFF --memory-out "$work/all8.bin"
    second_pid=$last_sim_pid
    plug_ports "COM7=$(cat "$work/pty-path-com7")" "COM8=$(cat "$work/pty-path-com8")"
    (cd "$work/data" && wine_run "$cli" -y --language en --all --json all.json) >"$work/all.out"
    rc=$?
    kill -TERM "$first_pid" "$second_pid"
    wait "$first_pid" || { cat "$work/sim.err"; fail "vf-sim on COM7 saw a protocol violation (--all)"; }
    wait "$second_pid" || { cat "$work/sim.err"; fail "vf-sim on COM8 saw a protocol violation (--all)"; }
    first_pid="" second_pid=""
    [ $rc -eq 12 ] || { cat "$work/all.out"; fail "--all: exit $rc, expected 12"; }
    grep -q "^FTVF2Q7K  COM7  VX-58 Pro      2.14     failed: 12 ERROR_WRITE_BLOCK  partly written$" "$work/all.out" \
        && grep -q "^FTVF8H3N  COM8  VX-36 Compact  1.07     finished                      written and verified$" "$work/all.out" \
        || { cat "$work/all.out"; fail "--all summary under Wine"; }
    cmp "$work/expected.bin" "$work/all8.bin" || fail "--all: the unit on COM8 does not hold the firmware image"
    python3 -c 'import json,sys; print([(u["result"]["code"], u["latencyTimerMs"]) for u in json.load(open(sys.argv[1]))["units"]])' \
        "$work/data/all.json" | grep -q '^\[(12, 16), (23, 1)\]$' || fail "--all report under Wine"
    # The hint for the converter at 16 ms comes once, before the units start; none for 1 ms.
    [ "$(grep -c 'latency timer' "$work/all.out")" -eq 1 ] \
        && grep -q '^Converter FTVF2Q7K: its latency timer is 16 ms, ' "$work/all.out" \
        || { cat "$work/all.out"; fail "--all latency timer hint under Wine"; }
    echo "PASS serial: --all updates both units at once under Wine; one refused block stops only its unit; each unit's latency timer reported"
    plug_ports
    load_registry ""
}

# The FTDIBUS key with the given converters, each SERIAL=COMn (its sub-key SERIAL + "A").
register_converters() {
    local reg=$work/ftdibus.reg converter
    printf 'Windows Registry Editor Version 5.00\r\n' >"$reg"
    for converter in "$@"; do
        printf '\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+%sA\\0000\\Device Parameters]\r\n"PortName"="%s"\r\n' \
            "${converter%%=*}" "${converter#*=}" >>"$reg"
    done
    load_registry "$reg"
}

# Starts a simulated unit behind the test's own link for COM port $1 (plugged in once by
# plug_ports); its pid is left in last_sim_pid.
start_sim_behind() {
    local port=$1
    shift
    start_sim_linked "$work/$port" "$work/pty-path-$port" "$@"
}

# Stops the simulated units whose pids are given; false when one saw a protocol violation.
stop_sims() {
    local pid rc=0
    for pid in "$@"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "$@"; do wait "$pid" || rc=1; done
    return $rc
}

# --check and --skip-current with two converters in the registry: the unit on COM7 holds its
# firmware, the one on COM8 has older firmware. --check tells them apart and writes nothing;
# --all --skip-current leaves the first alone and updates the second.
do_check() {
    need_prefix
    local cli=$mingw/cli/varnoflex-cli.exe
    [ -f "$cli" ] || fail "$cli not built"
    [ -x "$sim" ] || fail "vf-sim not found at $sim"
    work=$(mktemp -d "${TMPDIR:-/tmp}/vf-wine-check.XXXXXX")
    first_pid="" second_pid=""   # global: the exit trap runs after this function has returned
    trap 'kill ${first_pid:-} ${second_pid:-} 2>/dev/null; rm -rf "$work"' EXIT
    mkdir "$work/data"
    cp "$sample"/*.ovk "$sample"/*.hex "$work/data/"
    python3 "$here/scripts/vf_image.py" image "$sample/VX58PRO_V214.hex" "$work/current7.bin" --size 131072 || fail "vf_image"
    python3 "$here/scripts/vf_image.py" image "$sample/VX36C_V107.hex" "$work/expected8.bin" --size 32768 \
        || fail "vf_image"
    register_converters FTVF2Q7K=COM7 FTVF8H3N=COM8
    # What a check must never send: blank check, erase, program mode, write blocks.
    local writing='^frame 01 07 32 \|^frame 01 07 20 \|^frame 01 07 40 \|^block write '

    start_sim_at com7 --memory-in "$work/current7.bin" --memory-out "$work/after7.bin" --record "$work/record7.txt"
    first_pid=$last_sim_pid
    start_sim_at com8 --end-address 7FFF --old-firmware --memory-out "$work/after8.bin" --record "$work/record8.txt"
    second_pid=$last_sim_pid
    (cd "$work/data" && wine_run "$cli" -y --language en --serial FTVF2Q7K --check --json holds.json) >"$work/holds.out"
    local holds_rc=$?
    (cd "$work/data" && wine_run "$cli" -y --language en --serial FTVF8H3N --check) >"$work/differs.out"
    local differs_rc=$?
    stop_sims "$first_pid" "$second_pid" || { cat "$work/sim.err"; fail "a simulated unit saw a protocol violation (--check)"; }
    first_pid="" second_pid=""
    [ $holds_rc -eq 0 ] || { cat "$work/holds.out"; fail "--check of a current unit: exit $holds_rc, expected 0"; }
    grep -q "^Holds firmware 2.14 (VX58PRO_V214.hex)$" "$work/holds.out" || { cat "$work/holds.out"; fail "no holds verdict"; }
    [ $differs_rc -eq 24 ] || { cat "$work/differs.out"; fail "--check of older firmware: exit $differs_rc, expected 24"; }
    grep -q "^Differs from firmware 1.07 (VX36C_V107.hex): checksum 0x[0-9A-F]\{4\} in the unit, 0x[0-9A-F]\{4\} of the file$" \
        "$work/differs.out" || { cat "$work/differs.out"; fail "no differs verdict"; }
    ! grep -q "$writing" "$work/record7.txt" "$work/record8.txt" || fail "--check sent a writing frame"
    cmp "$work/current7.bin" "$work/after7.bin" || fail "--check changed the memory of the unit on COM7"
    python3 -c 'import json,sys; u,=json.load(open(sys.argv[1]))["units"]; c=u["check"]; assert (u["port"], c["verdict"], c["blocksVerified"], c["deviceChecksum"] == c["imageChecksum"]) == ("COM7", "holds", 512, True), u' \
        "$work/data/holds.json" || fail "--check report under Wine"
    echo "PASS check: --check says which of two units holds its firmware and writes to neither"

    start_sim_at com7 --memory-in "$work/current7.bin" --memory-out "$work/after7.bin" --record "$work/record7.txt"
    first_pid=$last_sim_pid
    start_sim_at com8 --end-address 7FFF --old-firmware --memory-out "$work/after8.bin"
    second_pid=$last_sim_pid
    plug_ports "COM7=$(cat "$work/pty-path-com7")" "COM8=$(cat "$work/pty-path-com8")"
    (cd "$work/data" && wine_run "$cli" -y --language en --all --skip-current --json all.json) >"$work/all.out"
    local rc=$?
    stop_sims "$first_pid" "$second_pid" || { cat "$work/sim.err"; fail "a simulated unit saw a protocol violation (--all --skip-current)"; }
    first_pid="" second_pid=""
    [ $rc -eq 0 ] || { cat "$work/all.out"; fail "--all --skip-current: exit $rc, expected 0"; }
    grep -q "^FTVF2Q7K  COM7  VX-58 Pro      2.14     holds firmware 2.14 (VX58PRO_V214.hex); current, left alone  unchanged$" "$work/all.out" \
        && grep -q "^FTVF8H3N  COM8  VX-36 Compact  1.07     finished  *written and verified$" "$work/all.out" \
        || { cat "$work/all.out"; fail "--all --skip-current summary under Wine"; }
    ! grep -q "$writing" "$work/record7.txt" || fail "--skip-current wrote to the current unit"
    cmp "$work/current7.bin" "$work/after7.bin" || fail "--skip-current changed the current unit's memory"
    cmp "$work/expected8.bin" "$work/after8.bin" || fail "--skip-current: the unit on COM8 does not hold the firmware image"
    python3 -c 'import json,sys; print([(u["leftAlone"], u["check"]["verdict"]) for u in json.load(open(sys.argv[1]))["units"]])' \
        "$work/data/all.json" | grep -q "^\[(True, 'holds'), (False, 'differs')\]$" || fail "--all --skip-current report under Wine"
    echo "PASS check: --all --skip-current leaves the current unit alone and updates the other under Wine"
    plug_ports
    load_registry ""
}

# A service bench as the FTDI driver leaves it on a PC that has seen other converters: four
# converters in the registry, two of them remembered (their COM ports do not exist). --list
# tells which are connected; --all updates the two that are there and names the others "not
# connected"; two console Ctrl-C stop every child between frames (each closes its port and
# leaves its trace and result); a port that cannot be opened gives its error to the summary
# and the report; two connected converters with one serial are not updated.
do_bench() {
    begin_case bench
    pids=""   # global: the exit trap runs after this function has returned
    trap 'kill $pids 2>/dev/null; rm -rf "$work"' EXIT
    mkdir "$work/not-a-port"
    python3 - "$here/scripts" "$work/data/devicelist.ovk" <<'PYTHON' || fail "device list with a test rig"
import sys
sys.path.insert(0, sys.argv[1])
import vf_image
path = sys.argv[2]
listed = vf_image.decode_storage(open(path, "rb").read())
listed += b"#VX-90 Test,Test Rig,FTVF0TST,9.99,VX58PRO_V214.hex\r\n"
open(path, "wb").write(vf_image.decode_storage(listed))
PYTHON
    python3 "$here/scripts/vf_image.py" image "$sample/VX58PRO_V214.hex" "$work/expected7.bin" --size 131072 \
        && python3 "$here/scripts/vf_image.py" image "$sample/VX36C_V107.hex" "$work/expected8.bin" --size 32768 \
        || fail "vf_image"
    # COM7 and COM8 lead to the test's own links (moved to each new simulated unit); COM9 to a
    # folder, which no program can open as a port: Windows and Wine answer with the error of a
    # port held by another program, ERROR_ACCESS_DENIED (Wine lets a second program open a
    # port that one already holds, so a held port cannot be shown). COM11 and COM12 are
    # never plugged in.
    plug_ports "COM7=$work/com7" "COM8=$work/com8" "COM9=$work/not-a-port"

    register_converters FTVF2Q7K=COM7 FTVF5M9R=COM11 FTVF8H3N=COM8 FTVF0TST=COM12
    start_sim_behind com7 --memory-out "$work/memory7.bin"
    local sim7=$last_sim_pid
    start_sim_behind com8 --end-address 7FFF --memory-out "$work/memory8.bin"
    local sim8=$last_sim_pid
    pids="$sim7 $sim8"
    (cd "$work/data" && wine_run "$cli" --list --language en) >"$work/list.out"
    grep -q "^Converter FTVF2Q7K at COM7$" "$work/list.out" \
        && grep -q "^Converter FTVF5M9R at COM11 (not connected)$" "$work/list.out" \
        && grep -q "^Converter FTVF8H3N at COM8$" "$work/list.out" \
        && grep -q "^Converter FTVF0TST at COM12 (not connected)$" "$work/list.out" \
        || { cat "$work/list.out"; fail "--list of connected and remembered converters"; }
    (cd "$work/data" && wine_run "$cli" -y --language en --all --json remembered.json) >"$work/remembered.out"
    local rc=$?
    stop_sims $sim7 $sim8 || { cat "$work/sim.err"; fail "a simulated unit saw a protocol violation (remembered)"; }
    pids=""
    [ $rc -eq 0 ] || { cat "$work/remembered.out"; fail "--all with remembered converters: exit $rc, expected 0"; }
    grep -q "^FTVF2Q7K  COM7   VX-58 Pro      2.14     finished       written and verified$" "$work/remembered.out" \
        && grep -q "^FTVF8H3N  COM8   VX-36 Compact  1.07     finished       written and verified$" "$work/remembered.out" \
        && grep -q "^FTVF5M9R  COM11  -              -        not connected  -$" "$work/remembered.out" \
        && grep -q "^FTVF0TST  COM12  -              -        not connected  -$" "$work/remembered.out" \
        || { cat "$work/remembered.out"; fail "--all summary with remembered converters"; }
    cmp "$work/expected7.bin" "$work/memory7.bin" && cmp "$work/expected8.bin" "$work/memory8.bin" \
        || fail "--all with remembered converters: a unit does not hold its firmware"
    python3 - "$work/data/remembered.json" <<'PYTHON' || fail "--all report with remembered converters"
import json, sys
report = json.load(open(sys.argv[1]))
assert [(u["serial"], u["port"], u["result"]["code"]) for u in report["units"]] == [
    ("FTVF2Q7K", "COM7", 23), ("FTVF8H3N", "COM8", 23)], report["units"]
# In the registry's order of the sub-keys (Wine enumerates them sorted by name).
assert report["notConnected"] == [{"serial": "FTVF0TST", "port": "COM12"}, {"serial": "FTVF5M9R", "port": "COM11"}], report
PYTHON
    echo "PASS bench: --list and --all tell connected from remembered converters; the two connected units are updated, exit 0"

    # The program, its report and its traces at paths outside the ANSI code page: the children
    # are started and the files made through the wide Windows calls.
    local unicode_dir="$work/prüfstand-日本"
    mkdir "$unicode_dir" && cp "$cli" "$unicode_dir/" || fail "a folder with a Unicode name"
    start_sim_behind com7
    sim7=$last_sim_pid
    start_sim_behind com8 --end-address 7FFF
    sim8=$last_sim_pid
    pids="$sim7 $sim8"
    (cd "$work/data" && wine_run "$unicode_dir/varnoflex-cli.exe" -y --language en --all --json "報告.json" \
        --trace "跡.txt") >"$work/unicode.out"
    rc=$?
    stop_sims $sim7 $sim8 || { cat "$work/sim.err"; fail "a simulated unit saw a protocol violation (Unicode paths)"; }
    pids=""
    [ $rc -eq 0 ] || { cat "$work/unicode.out"; fail "--all from a Unicode path: exit $rc, expected 0"; }
    python3 -c 'import json,sys; u=json.load(open(sys.argv[1]))["units"]; assert [x["result"]["code"] for x in u] == [23, 23], u' \
        "$work/data/報告.json" && [ -s "$work/data/跡-FTVF2Q7K.txt" ] && [ -s "$work/data/跡-FTVF8H3N.txt" ] \
        || { ls "$work/data"; fail "--all from a Unicode path: report or traces missing"; }
    echo "PASS bench: --all started from a folder outside the ANSI code page writes its report and traces there too"

    # Two console Ctrl-C (Wine turns SIGINT into CTRL_C_EVENT) in the write pass: the first
    # warns, the second stops every child through its stop event, between frames.
    start_sim_behind com7 --pace --memory-out "$work/stopped7.bin"
    sim7=$last_sim_pid
    start_sim_behind com8 --pace --memory-out "$work/stopped8.bin"
    sim8=$last_sim_pid
    pids="$sim7 $sim8"
    (cd "$work/data" && timeout 240 python3 "$here/tests/cli/signal_driver.py" "$work/runs.json" \
        stop "$WINELOADER" "$cli" -y --language en --all --json stopped.json --trace trace.txt \
        2>>"$logs/wine-stderr.log")
    stop_sims $sim7 $sim8 || { cat "$work/sim.err"; fail "a simulated unit saw a protocol violation (stop)"; }
    pids=""
    python3 - "$work/runs.json" "$work/data" <<'PYTHON' || fail "two Ctrl-C during --all under Wine (runs in $work/runs.json)"
import json, os, sys
[run] = json.load(open(sys.argv[1]))
data = sys.argv[2]
assert run["unsent"] == 0 and run["status"] == 130, run
output = [line.rstrip("\r") for line in run["output"]]
assert sum("Press Ctrl-C again within 5 seconds" in line for line in output) == 1, output
for serial, port in (("FTVF2Q7K", "COM7"), ("FTVF8H3N", "COM8")):
    assert any(line.startswith(f"{serial}  {port}") and "unfinished" in line and line.endswith("partly written")
               for line in output), output
    assert (f"{serial} {port}: update interrupted; the unit's memory is partly written. Start download again !"
            in output), output
    # The child closed its port and left its trace whole. The stop ends traffic at once: the
    # last block's reply was read when the stop came after it, or not waited for when the stop
    # fell between the block's write and its read; the memory is partly written either way.
    trace = [line.split(None, 1)[1] for line in open(os.path.join(data, f"trace-{serial}.txt"))]
    operations = [line.strip() for line in trace if not line.startswith("wait ")]
    def block_write(line):
        return line.startswith("write ") and "[256 data bytes]" in line
    assert operations[-1] == "close", trace[-5:]
    assert block_write(operations[-2]) or (operations[-2].startswith("read ") and block_write(operations[-3])), \
        trace[-5:]
units = json.load(open(os.path.join(data, "stopped.json")))["units"]
assert [(u["serial"], u["exitStatus"], u["unfinished"], u["memory"]) for u in units] == [
    ("FTVF2Q7K", 143, True, "partly written"), ("FTVF8H3N", 143, True, "partly written")], units
assert all(0 < u["blocksWritten"] < 512 for u in units), units
PYTHON
    echo "PASS bench: two Ctrl-C stop every child between frames; each closes its port and leaves its trace and result"

    # A port that cannot be opened: its error reaches the summary and the report.
    register_converters FTVF2Q7K=COM7 FTVF8H3N=COM9
    start_sim_behind com7
    sim7=$last_sim_pid
    pids=$sim7
    (cd "$work/data" && wine_run "$cli" -y --language en --all --json busy.json) >"$work/busy.out"
    rc=$?
    stop_sims $sim7 || { cat "$work/sim.err"; fail "a simulated unit saw a protocol violation (busy)"; }
    pids=""
    [ $rc -eq 8 ] || { cat "$work/busy.out"; fail "--all with a port that cannot be opened: exit $rc, expected 8"; }
    grep -q "^FTVF8H3N COM9: last error of the serial port: Access denied$" "$work/busy.out" \
        || { cat "$work/busy.out"; fail "the port's error in the summary"; }
    python3 -c 'import json,sys; u=json.load(open(sys.argv[1]))["units"]; assert [(x["result"]["code"], x["lastError"]) for x in u] == [(23, None), (8, "Access denied")], u' \
        "$work/data/busy.json" || fail "the port's error in the report"
    echo "PASS bench: a port that cannot be opened gives its error to the summary and the report"

    # Two connected converters with one serial: said, neither is updated, exit 75.
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s\\VID_0403+PID_6001+FTVF2Q7KA\\0000\\Device Parameters]\r\n"PortName"="COM7"\r\n\r\n[%s\\VID_0403+PID_6001+FTVF2Q7KB\\0000\\Device Parameters]\r\n"PortName"="COM8"\r\n' \
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS" \
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS" >"$work/twice.reg"
    load_registry "$work/twice.reg"
    start_sim_behind com7 --end-address 0FFF --record "$work/twice7.txt"
    sim7=$last_sim_pid
    start_sim_behind com8 --end-address 0FFF --record "$work/twice8.txt"
    sim8=$last_sim_pid
    pids="$sim7 $sim8"
    (cd "$work/data" && wine_run "$cli" -y --language en --all) >"$work/twice.out"
    rc=$?
    stop_sims $sim7 $sim8 || { cat "$work/sim.err"; fail "a simulated unit saw a protocol violation (one serial)"; }
    pids=""
    [ $rc -eq 75 ] || { cat "$work/twice.out"; fail "two converters with one serial: exit $rc, expected 75"; }
    grep -q "More than one converter carries the serial FTVF2Q7K" "$work/twice.out" \
        && [ "$(grep -c "^FTVF2Q7K  COM[78]  .*  not updated: serial not unique  unchanged$" "$work/twice.out")" -eq 2 ] \
        || { cat "$work/twice.out"; fail "two converters with one serial: summary"; }
    ! grep -q -e '^frame ' -e '^wake byte' "$work/twice7.txt" "$work/twice8.txt" \
        || fail "two converters with one serial: a unit was talked to"
    echo "PASS bench: two converters with one serial are named and neither is updated, exit 75"
    plug_ports
    load_registry ""
}

# The converter's latency timer: the update reads "LatencyTimer" from the converter's Device
# Parameters key, says what 16 ms costs and how to lower it, and reports the value in --json;
# the simulated unit's modelled FT232R is given the value the test wrote, so its record shows
# the same timer. --set-latency-timer 1 changes the listed converters' values only (read back
# from the registry). Wine gives every program full access to the registry, so the refusal
# without administrator rights cannot be shown here (tests/cli/latency_hint_test.cpp does).
do_latency() {
    begin_case latency
    trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
    local key="HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS"
    # Two converters of the device list (FTVF8H3N on COM7 with its unit, FTVF2Q7K) and one
    # that it does not name, every one at the driver's default of 16 ms.
    printf 'Windows Registry Editor Version 5.00\r\n' >"$work/ftdibus.reg"
    local entry
    for entry in FTVF8H3NA:COM7 FTVF2Q7KA:COM8 FTZZ0000A:COM9; do
        printf '\r\n[%s\\VID_0403+PID_6001+%s\\0000\\Device Parameters]\r\n"PortName"="%s"\r\n"LatencyTimer"=dword:00000010\r\n' \
            "$key" "${entry%%:*}" "${entry#*:}" >>"$work/ftdibus.reg"
    done
    load_registry "$work/ftdibus.reg"
    latency_of() {
        wine_run reg query "$ftdibus\\VID_0403+PID_6001+$1\\0000\\Device Parameters" /v LatencyTimer \
            | awk '$1 == "LatencyTimer" { print $3 }' | { read -r hex && echo $((hex)); }
    }

    start_sim --end-address 7FFF --ft232r --latency-timer 16 --record "$work/record16.txt"
    (cd "$work/data" && wine_run "$cli" -y --language en --serial FTVF8H3N --json report16.json) >"$work/update16.out"
    local rc=$?
    # A check goes through the same converter: the same hint, and its report carries the timer.
    (cd "$work/data" && wine_run "$cli" -y --language en --serial FTVF8H3N --check --json check16.json) \
        >"$work/check16.out"
    local check_rc=$?
    stop_sim || { cat "$work/sim.err"; fail "vf-sim saw a protocol violation (16 ms)"; }
    [ $rc -eq 0 ] || { cat "$work/update16.out"; fail "update at 16 ms: exit $rc, expected 0"; }
    [ $check_rc -eq 0 ] || { cat "$work/check16.out"; fail "check at 16 ms: exit $check_rc, expected 0"; }
    [ "$(grep -c '^Converter FTVF8H3N: its latency timer is 16 ms' "$work/check16.out")" -eq 1 ] \
        || { cat "$work/check16.out"; fail "no latency timer hint before the check at 16 ms"; }
    python3 -c 'import json,sys; u, = json.load(open(sys.argv[1]))["units"]; assert u["latencyTimerMs"] == 16, u' \
        "$work/data/check16.json" || fail "the check's --json does not carry the latency timer of 16 ms"
    [ "$(grep -c 'latency timer' "$work/update16.out")" -eq 1 ] \
        && grep -q '^Converter FTVF8H3N: its latency timer is 16 ms, which makes an update wait about 3 s longer than at 1 ms; to lower it, an administrator runs "varnoflex-cli --set-latency-timer 1" and plugs the converter in again.$' "$work/update16.out" \
        || { cat "$work/update16.out"; fail "no latency timer hint at 16 ms"; }
    grep -q '^converter: FT232R, latency timer 16 ms; ' "$work/record16.txt" || fail "the modelled converter did not run at 16 ms"
    python3 -c 'import json,sys; u, = json.load(open(sys.argv[1]))["units"]; assert u["latencyTimerMs"] == 16, u' \
        "$work/data/report16.json" || fail "--json does not carry the latency timer of 16 ms"
    echo "PASS latency: 16 ms read before the update and the check, the hint printed once, --json carries it"

    (cd "$work/data" && wine_run "$cli" --set-latency-timer 0) >/dev/null
    rc=$?
    [ $rc -eq 64 ] || fail "--set-latency-timer 0: exit $rc, expected 64"
    (cd "$work/data" && wine_run "$cli" --language en --set-latency-timer 1) >"$work/set.out"
    rc=$?
    [ $rc -eq 0 ] || { cat "$work/set.out"; fail "--set-latency-timer 1: exit $rc, expected 0"; }
    grep -q '^Converter FTVF8H3N: latency timer set to 1 ms. Plug the converter in again' "$work/set.out" \
        && grep -q '^Converter FTVF2Q7K: latency timer set to 1 ms.' "$work/set.out" \
        && ! grep -q FTZZ0000 "$work/set.out" || { cat "$work/set.out"; fail "--set-latency-timer 1 output"; }
    [ "$(latency_of FTVF8H3NA) $(latency_of FTVF2Q7KA) $(latency_of FTZZ0000A)" = "1 1 16" ] \
        || fail "registry after --set-latency-timer 1: $(latency_of FTVF8H3NA) $(latency_of FTVF2Q7KA) $(latency_of FTZZ0000A), expected 1 1 16"
    echo "PASS latency: --set-latency-timer 1 sets the listed converters only (registry read back)"

    start_sim --end-address 7FFF --ft232r --latency-timer 1
    (cd "$work/data" && wine_run "$cli" -y --language en --serial FTVF8H3N --json report1.json) >"$work/update1.out"
    rc=$?
    stop_sim || { cat "$work/sim.err"; fail "vf-sim saw a protocol violation (1 ms)"; }
    [ $rc -eq 0 ] || { cat "$work/update1.out"; fail "update at 1 ms: exit $rc, expected 0"; }
    ! grep -q 'latency timer' "$work/update1.out" || { cat "$work/update1.out"; fail "a hint at 1 ms"; }
    python3 -c 'import json,sys; u, = json.load(open(sys.argv[1]))["units"]; assert u["latencyTimerMs"] == 1, u' \
        "$work/data/report1.json" || fail "--json does not carry the latency timer of 1 ms"
    echo "PASS latency: at 1 ms no hint, --json carries 1"
    load_registry ""
}

case "${1:-}" in
    setup) do_setup ;;
    latency) do_latency ;;
    serial) do_serial ;;
    bench) do_bench ;;
    check) do_check ;;
    unit) do_unit ;;
    registry) do_registry ;;
    update) do_update ;;
    folders) do_folders ;;
    cleanup) do_cleanup ;;
    all)
        start=$(date +%s)
        do_setup || exit 1
        rc=0
        (do_unit) || rc=1
        (do_registry) || rc=1
        (do_update) || rc=1
        (do_folders) || rc=1
        (do_serial) || rc=1
        (do_bench) || rc=1
        (do_latency) || rc=1
        (do_check) || rc=1
        do_cleanup
        echo "wine tests: $([ $rc -eq 0 ] && echo PASS || echo FAIL) in $(( $(date +%s) - start ))s"
        exit $rc ;;
    *) echo "usage: $0 setup|unit|registry|update|folders|serial|bench|latency|check|cleanup|all" >&2; exit 2 ;;
esac
