#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark: one whole update through varnoflex-cli against the paced simulated unit (every
# byte takes its wire time at the line speed), on Linux (vf-testbed --pace) and under Wine
# (vf-sim --pace on a pty behind a Wine COM port), each over a plain pty and through the
# modelled FT232R of the converter (--ft232r: replies reach the program as a real cable hands
# them over, see sim/ft232r_model.h). Rows, taking turns within every run:
#   linux              emulated converter, plain pty
#   linux-ft232r       emulated converter, modelled FT232R; its timer as the program's
#                      low-latency request sets it (1 ms; the row says what it was)
#   linux-ft232r-16    the same with the converter's driver keeping its 16 ms despite the
#                      request (vf-testbed --fault keep-latency-timer): what the request is
#                      worth; the program's line about the timer must be printed
#   wine-64            Windows build, plain pty
#   wine-64-lt16       Windows build, modelled FT232R, "LatencyTimer" 16 in the converter's
#                      registry entry and the same 16 ms given to the model; the program's
#                      hint must be printed
#   wine-64-lt1        the same with 1 ms; no hint
# Each row: measured wall time, protocol floor, ratio measured/floor, CPU time of the updater,
# the time the modelled converter held the replies back (s and % of the wall time), and the
# 1-minute load average after the run.
#
# usage: bench-cli.sh [--runs N] [--linux-only|--wine-only] [--pty-only|--ft232r-only]
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
do_pty=1
do_model=1
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift ;;
        --linux-only) do_wine=0 ;;
        --wine-only) do_linux=0 ;;
        --pty-only) do_model=0 ;;
        --ft232r-only) do_pty=0 ;;
        *) echo "usage: $0 [--runs N] [--linux-only|--wine-only] [--pty-only|--ft232r-only]" >&2; exit 2 ;;
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

# What the modelled converter held the replies back, in seconds, from the unit's record.
held_seconds() {
    awk '/^converter: FT232R, / { for (i = 1; i <= NF; ++i) if ($i == "held") print $(i + 1) / 1000 }' "$1"
}

row() {   # platform wall cpu [held]
    local held=${4:-} held_cell=- share_cell=-
    if [ -n "$held" ]; then
        held_cell=$(awk -v h="$held" 'BEGIN{printf "%.3f", h}')
        share_cell=$(awk -v h="$held" -v w="$2" 'BEGIN{printf "%.2f%%", 100*h/w}')
    fi
    printf "%-16s %10s %10s %7s %8s %8s %8s %6s\n" "$1" "$2" "$floor" \
        "$(awk -v m="$2" -v f="$floor" 'BEGIN{printf "%.3f", m/f}')" "$3" "$held_cell" "$share_cell" \
        "$(cut -d' ' -f1 /proc/loadavg)"
}

printf "%-16s %10s %10s %7s %8s %8s %8s %6s\n" platform measured_s floor_s ratio cpu_s conv_s conv% load

linux_run() {   # label [testbed options...]
    local label=$1
    shift
    read -r wall cpu < <(cd "$work/data" && timed "$linux_build/sim/vf-testbed" --pace "$@" -- :: \
        "$linux_build/cli/varnoflex-cli" -y --language en)
    grep -q "Update successful finished !" "$work/run.out" || { echo "$label run failed:"; tail -n 5 "$work/run.out" "$work/run.err"; exit 1; }
    if [ -s "$work/record.txt" ]; then
        local expected=1 hint
        case " $* " in *" keep-latency-timer "*) expected=16 ;; esac
        grep -q "^converter: FT232R, latency timer $expected ms; " "$work/record.txt" \
            || echo "($label: the modelled converter did not run at $expected ms: $(grep '^converter: FT232R' "$work/record.txt"))"
        hint=$(grep -m1 "its latency timer is" "$work/run.out")
        [ $expected -gt 2 ] && [ -z "$hint" ] && { echo "$label: no line about the latency timer"; exit 1; }
        row "$label" "$wall" "$cpu" "$(held_seconds "$work/record.txt")"
        [ -n "$hint" ] && echo "  hint: $hint"
        rm -f "$work/record.txt"
    else
        row "$label" "$wall" "$cpu"
    fi
}

linux_rows() {
    [ $do_pty -eq 1 ] && linux_run linux
    [ $do_model -eq 1 ] && linux_run linux-ft232r --ft232r --record "$work/record.txt"
    [ $do_model -eq 1 ] && linux_run linux-ft232r-16 --ft232r --fault keep-latency-timer --record "$work/record.txt"
}

if [ $do_linux -eq 1 ] && [ $do_wine -eq 0 ]; then
    for _ in $(seq "$runs"); do linux_rows; done
fi

if [ $do_wine -eq 1 ]; then
    export VF_WINE_PREFIX=$work/prefix VF_MINGW_BUILD=$mingw_build
    "$here/scripts/wine-tests.sh" setup >/dev/null || { echo "Wine prefix setup failed"; exit 1; }
    export WINEPREFIX=$work/prefix WINEDEBUG=-all
    . "$here/scripts/wine-loader.sh"
    wine_pick_loader "$mingw_build/cli/varnoflex-cli.exe" \
        || { echo "not a Windows program: $mingw_build/cli/varnoflex-cli.exe"; exit 1; }
    loader=$WINELOADER; arch=wine-$WINEARCH
    # The converter's registry entry, with its LatencyTimer when one is given.
    set_registry() {   # [latency_ms]
        printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+FTVF2Q7KA\\0000\\Device Parameters]\r\n"PortName"="COM7"\r\n' >"$work/ftdibus.reg"
        [ -n "${1:-}" ] && printf '"LatencyTimer"=dword:%08x\r\n' "$1" >>"$work/ftdibus.reg"
        "$loader" reg delete 'HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS' /f >/dev/null 2>&1
        "$loader" reg import "$work/ftdibus.reg" >/dev/null 2>&1 || { echo "reg import failed"; exit 1; }
    }
    wine_run() {   # label [latency_ms]
        local label=$1 latency=${2:-}
        set_registry "$latency"
        local model=()
        [ -n "$latency" ] && model=(--ft232r --latency-timer "$latency" --record "$work/record.txt")
        rm -f "$work/pty" "$work/record.txt"
        "${VF_SIM:-$linux_build/sim/vf-sim}" --pace "${model[@]}" --pty "$work/pty" 2>"$work/sim.err" &
        sim_pid=$!
        for _ in $(seq 200); do [ -s "$work/pty" ] && break; sleep 0.05; done
        ln -sfn "$(cat "$work/pty")" "$WINEPREFIX/dosdevices/com7"
        read -r wall cpu < <(cd "$work/data" && timed :: "$loader" "$mingw_build/cli/varnoflex-cli.exe" -y --language en)
        kill -TERM "$sim_pid"; wait "$sim_pid"; sim_rc=$?; sim_pid=""
        grep -q "Update successful finished !" "$work/run.out" && [ $sim_rc -eq 0 ] \
            || { echo "$label run failed (sim $sim_rc):"; tail -n 5 "$work/run.out" "$work/sim.err"; exit 1; }
        if [ -n "$latency" ]; then
            # The program read the value the model was given: its hint above 2 ms, none below.
            local hint
            hint=$(grep -m1 "its latency timer is" "$work/run.out" | tr -d '\r')
            if [ "$latency" -gt 2 ]; then
                [ -n "$hint" ] || { echo "$label: no latency timer hint"; exit 1; }
            else
                [ -z "$hint" ] || { echo "$label: a hint at $latency ms: $hint"; exit 1; }
            fi
            row "$label" "$wall" "$cpu" "$(held_seconds "$work/record.txt")"
            [ -n "$hint" ] && echo "  hint: $hint"
        else
            row "$label" "$wall" "$cpu"
        fi
    }
    for _ in $(seq "$runs"); do
        [ $do_linux -eq 1 ] && linux_rows
        [ $do_pty -eq 1 ] && wine_run "$arch"
        [ $do_model -eq 1 ] && wine_run "$arch-lt16" 16
        [ $do_model -eq 1 ] && wine_run "$arch-lt1" 1
    done
fi
