#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark: one whole update through varnoflex-cli against the paced simulated unit (every
# byte takes its wire time at the line speed), on Linux (vf-testbed --pace) and under Wine
# (vf-sim --pace on a pty behind a Wine COM port). Prints one row per platform:
#   measured wall time, protocol floor, ratio measured/floor, CPU time of the updater.
#
# usage: bench-cli.sh [--runs N] [--linux-only|--wine-only]
# Environment: VF_LINUX_BUILD (default build), VF_SIM (default its vf-sim),
# VF_MINGW_BUILD (default build-mingw64), VF_SAMPLE_DIR.
#
# Protocol floor: what the line and the protocol's fixed pauses cost at the least with a
# unit of 512 blocks (end address 0x1FFFF). Each pass sends 512 data block frames of 260
# bytes and receives 512 block acknowledgements of 6 bytes, one after the other, at 115200
# baud with 10 bits per byte (8N1): 2 x 512 x 266 x 10 / 115200 s = 23.64 s. Every data block
# frame is preceded by a 5 ms pause (2 x 512 x 5 ms = 5.12 s). Add the 200 ms pause after
# opening the port, the 100 ms after the switch to 115200 baud and the 50 ms before the
# verify command: 29.11 s. Left out (well under 0.1 s together): the identification's and
# the commands' few frames and their 5 ms pauses. CPU time is user + system time of the
# updater process (under Wine: of the Wine processes it starts, not of the shared
# wineserver); the simulated unit's time is not in it.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
linux_build=${VF_LINUX_BUILD:-$here/build}
mingw_build=${VF_MINGW_BUILD:-$here/build-mingw64}
sample=${VF_SAMPLE_DIR:-$here/sample}
runs=1
do_linux=1
do_wine=1
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift ;;
        --linux-only) do_wine=0 ;;
        --wine-only) do_linux=0 ;;
        *) echo "usage: $0 [--runs N] [--linux-only|--wine-only]" >&2; exit 2 ;;
    esac
    shift
done

blocks=512
baud=115200
floor=$(awk -v n=$blocks -v b=$baud 'BEGIN{printf "%.2f", 2*n*(260+6)*10/b + 2*n*0.005 + 0.2 + 0.1 + 0.05}')

work=$(mktemp -d "${TMPDIR:-/tmp}/vf-bench-cli.XXXXXX")
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    [ -d "$work/prefix" ] && VF_WINE_PREFIX=$work/prefix VF_MINGW_BUILD=$mingw_build \
        "$here/scripts/wine-tests.sh" cleanup >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/data"
cp "$sample"/*.ovk "$sample"/*.hex "$work/data/"

# Runs PREFIX... :: PROGRAM ARGS..., prints "WALL CPU" in seconds. The wall time is the
# whole run's; the CPU time is PROGRAM's alone: it runs in a wrapper shell whose "times"
# reports the user and system time of its finished children.
timed() {
    local prefix=()
    while [ "$1" != :: ]; do prefix+=("$1"); shift; done
    shift
    local start end cpu
    start=$(date +%s.%N)
    "${prefix[@]}" bash -c '"$@"; rc=$?; times >"'"$work"'/times"; exit $rc' timed "$@" \
        >"$work/run.out" 2>"$work/run.err"
    end=$(date +%s.%N)
    cpu=$(awk 'NR==2 { split($1,u,"m"); split($2,s,"m"); sub("s","",u[2]); sub("s","",s[2]);
                       printf "%.2f", u[1]*60+u[2]+s[1]*60+s[2] }' "$work/times")
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN{printf "%.2f", b-a}') $cpu"
}

row() {   # platform wall cpu
    printf "%-14s %10s %10s %7s %8s\n" "$1" "$2" "$floor" "$(awk -v m="$2" -v f="$floor" 'BEGIN{printf "%.2f", m/f}')" "$3"
}

printf "%-14s %10s %10s %7s %8s\n" platform measured_s floor_s ratio cpu_s

if [ $do_linux -eq 1 ]; then
    for _ in $(seq "$runs"); do
        read -r wall cpu < <(cd "$work/data" && timed "$linux_build/sim/vf-testbed" --pace -- :: \
            "$linux_build/cli/varnoflex-cli" -y --language en)
        grep -q "Update successful finished !" "$work/run.out" || { echo "linux run failed:"; tail -n 5 "$work/run.out" "$work/run.err"; exit 1; }
        row linux "$wall" "$cpu"
    done
fi

if [ $do_wine -eq 1 ]; then
    export VF_WINE_PREFIX=$work/prefix VF_MINGW_BUILD=$mingw_build
    "$here/scripts/wine-tests.sh" setup >/dev/null || { echo "Wine prefix setup failed"; exit 1; }
    export WINEPREFIX=$work/prefix WINEDEBUG=-all
    . "$here/scripts/wine-loader.sh"
    wine_pick_loader "$mingw_build/cli/varnoflex-cli.exe" \
        || { echo "not a Windows program: $mingw_build/cli/varnoflex-cli.exe"; exit 1; }
    loader=$WINELOADER; arch=wine-$WINEARCH
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+FTVF2Q7KA\\0000\\Device Parameters]\r\n"PortName"="COM7"\r\n' >"$work/ftdibus.reg"
    "$loader" reg import "$work/ftdibus.reg" >/dev/null 2>&1 || { echo "reg import failed"; exit 1; }
    for _ in $(seq "$runs"); do
        rm -f "$work/pty"
        "${VF_SIM:-$linux_build/sim/vf-sim}" --pace --pty "$work/pty" 2>"$work/sim.err" &
        sim_pid=$!
        for _ in $(seq 200); do [ -s "$work/pty" ] && break; sleep 0.05; done
        ln -sfn "$(cat "$work/pty")" "$WINEPREFIX/dosdevices/com7"
        read -r wall cpu < <(cd "$work/data" && timed :: "$loader" "$mingw_build/cli/varnoflex-cli.exe" -y --language en)
        kill -TERM "$sim_pid"; wait "$sim_pid"; sim_rc=$?; sim_pid=""
        grep -q "Update successful finished !" "$work/run.out" && [ $sim_rc -eq 0 ] \
            || { echo "wine run failed (sim $sim_rc):"; tail -n 5 "$work/run.out" "$work/sim.err"; exit 1; }
        row "$arch" "$wall" "$cpu"
    done
fi
