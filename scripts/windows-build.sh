#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Windows programs for both targets (build-mingw32: i686, the shipped one;
# build-mingw64: x86_64, the one tested under Wine), each with its packages (zip and NSIS
# installer). The window needs an FLTK 1.4 source: VF_FLTK_SOURCE, or the FLTK 1.4.5 tarball
# in ../shared/third_party beside the checkout. Without one only the command line is built,
# said in one line; with CI=true a missing source is a failure.
# FLTK is built once per build folder (cmake/FltkSource.cmake); later runs reuse it.
# usage: scripts/windows-build.sh    (JOBS: parallel jobs, default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}
start=$(date +%s)

fltk=${VF_FLTK_SOURCE:-$root/../shared/third_party/fltk-1.4.5-source.tar.gz}
if [ -e "$fltk" ]; then
  fltk_arg=-DVF_FLTK_SOURCE=$(realpath "$fltk")
elif [ "${CI:-}" = true ]; then
  echo "FAIL: no FLTK source at $fltk; the Windows window cannot be built (set VF_FLTK_SOURCE)"
  exit 1
else
  echo "Windows window skipped: no FLTK source at $fltk (set VF_FLTK_SOURCE to the FLTK 1.4.5 tarball or tree)"
  fltk_arg=-DVF_FLTK_SOURCE=
fi

for bits in 32 64; do
  dir=build-mingw$bits
  mkdir -p "$dir"
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw$bits.cmake" \
        -DCMAKE_BUILD_TYPE=Release "$fltk_arg" >"$dir/configure.log" 2>&1 \
    || { cat "$dir/configure.log"; exit 1; }
  grep -E 'FLTK \(mingw\)|not built' "$dir/configure.log" || true
  # Only what is packaged or tested: the programs and the Windows tests (cpack then packs
  # what was built; "--target package" would build every target of the folder first).
  # The test programs run under Wine, which here runs 64-bit programs only: the 32-bit
  # build makes what it ships.
  targets=(varnoflex-cli)
  [ "$bits" = 64 ] && targets+=(vf-win-tests vf-registry-probe vf-code-page-probe)
  [ -n "$fltk_arg" ] && [ "$fltk_arg" != -DVF_FLTK_SOURCE= ] && targets+=(varnoflex-update)
  cmake --build "$dir" -j "$jobs" --target "${targets[@]}" >/dev/null
  (cd "$dir" && cpack >/dev/null) || { echo "FAIL: packaging $dir"; exit 1; }
  echo "$dir: $(cd "$dir" && ls varnoflex-update-*.zip varnoflex-update-*.exe | tr '\n' ' ')"
done
echo "Windows builds and packages in $(( $(date +%s) - start ))s"
