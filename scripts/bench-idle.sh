#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Idle cost of varnoflex-update: the main window shown (safety accepted), no update, for
# 10 s on a private Xvfb. Prints the CPU share of one core (utime+stime from /proc/PID/stat)
# and the peak resident memory (VmHWM).   Targets: CPU <= 0.5 %, peak <= 20 MB.
#
# Usage: scripts/bench-idle.sh [PROGRAM]   (default: build/app/varnoflex-update)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
program=$(realpath "${1:-$repo/build/app/varnoflex-update}")
seconds=10

work=$(mktemp -d /tmp/varnoflex-bench.XXXXXX)
find "$repo/sample" -maxdepth 1 -type f -exec cp {} "$work/" \;
xvfb_pid=""; app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null & echo "pid $!"; wait)
read -r _ xvfb_pid <&3
read -r display_number <&3
export DISPLAY=":$display_number"

(cd "$work" && exec "$program") >/dev/null 2>&1 &
app_pid=$!

wait_for() {   # wait_for TITLE: the window id once it is shown
  local id=""
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "window '$1' did not appear" >&2; return 1
}
safety=$(wait_for " Safety Instructions")
xdotool mousemove --window "$safety" 255 281 click 1   # "yes"
wait_for " Firmware Update" >/dev/null
sleep 1   # the first display of the device list settles

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$app_pid/stat"; }
start_ticks=$(cpu_ticks); start_ns=$(date +%s%N)
sleep "$seconds"
end_ticks=$(cpu_ticks); end_ns=$(date +%s%N)
hwm_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$app_pid/status")

awk -v t=$((end_ticks - start_ticks)) -v hz="$ticks" -v ns=$((end_ns - start_ns)) -v kb="$hwm_kb" 'BEGIN {
  wall = ns / 1e9; cpu = t / hz
  printf "idle for %.1f s: CPU %.2f s = %.2f %% of one core (target <= 0.5 %%)\n", wall, cpu, 100 * cpu / wall
  printf "peak memory (VmHWM): %.1f MB (target <= 20 MB)\n", kb / 1024
}'
