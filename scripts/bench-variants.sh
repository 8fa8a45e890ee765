#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark: the update of two builds side by side (for example before and after a change to
# the serial layer), one vf-bench-update run of each in turn, their order swapped every run,
# so that the machine's load falls on both alike. Prints every row of every run, then per
# build and row the lowest, mean and highest wall/floor, the mean time the modelled converter
# held the replies back, and the load averages seen.
#
# usage: bench-variants.sh [--runs N] [--rows LIST] BUILD_A BUILD_B
#   BUILD_*  build folders (each with bench/vf-bench-update and sim/vf-sim, sim/vf-testbed)
#   --rows   vf-bench-update's rows (default direct,ft232r,ft232r-emulated)
# Example: the pause before and after a change, the earlier commit built in build-before:
#   git worktree add /tmp/before HEAD~1 && cmake -S /tmp/before -B build-before ... &&
#   cmake --build build-before --target vf-bench-update vf-sim vf-testbed &&
#   scripts/bench-variants.sh --runs 4 build-before build
set -u
runs=3
rows=direct,ft232r,ft232r-emulated
while [ $# -gt 2 ]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --rows) rows=$2; shift 2 ;;
        *) break ;;
    esac
done
[ $# -eq 2 ] || { echo "usage: $0 [--runs N] [--rows LIST] BUILD_A BUILD_B" >&2; exit 2; }
here=$(cd "$(dirname "$0")/.." && pwd)
builds=("$(realpath "$1")" "$(realpath "$2")")
log=$(mktemp "${TMPDIR:-/tmp}/vf-bench-variants.XXXXXX")
trap 'rm -f "$log"' EXIT

for run in $(seq "$runs"); do
    order=(0 1)
    [ $((run % 2)) -eq 0 ] && order=(1 0)
    for i in "${order[@]}"; do
        build=${builds[$i]}
        echo "=== run $run, build $build (load $(cut -d' ' -f1-3 /proc/loadavg))"
        "$build/bench/vf-bench-update" --testbed "$build/sim/vf-testbed" --sim "$build/sim/vf-sim" \
            --sample "$here/sample" --only "$rows" --runs 1 2>/dev/null \
            | awk -v b="$i" '/^run [0-9]+, / { label = substr($0, index($0, ", ") + 2); sub(/:$/, "", label) }
                             /wall \/ floor:/ { ratio = $4 }
                             /held the replies/ { for (k = 1; k <= NF; ++k) if ($k == "replies") held = $(k + 1) }
                             /load average \(1 min\) after the run/ {
                                 printf "%s\t%s\t%s\t%s\t%s\n", b, label, ratio, held, $NF; held = "" }' \
            | tee -a "$log"
    done
done

echo
echo "build  row                                                                    wall/floor low  mean   high   held s  load"
awk -F'\t' '{ key = $1 "\t" $2; n[key]++; s[key] += $3; if (!(key in lo) || $3 < lo[key]) lo[key] = $3
              if (!(key in hi) || $3 > hi[key]) hi[key] = $3; h[key] += $4; loads[key] = loads[key] " " $5 }
            END { for (key in n) { split(key, part, "\t")
                    printf "%-6s %-72s %.4f %.4f %.4f %6.3f %s\n", part[1] == 0 ? "A" : "B", part[2], lo[key],
                           s[key] / n[key], hi[key], h[key] / n[key], loads[key] } }' "$log" | sort -k2
echo "A = ${builds[0]}"
echo "B = ${builds[1]}"
