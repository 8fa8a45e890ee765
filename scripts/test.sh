#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up and runs every test of varnoflex-update on Debian 12:
#   1. the normal build: unit, end-to-end (simulated unit behind an emulated FTDI converter) and
#      window tests (Xvfb);
#   2. the same library and tests under AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. the worker's threaded tests under ThreadSanitizer;
#   4. the fuzz targets (clang/libFuzzer), each for a short while;
#   5. the Debian packages: built twice and compared byte for byte, lintian, AppStream and
#      desktop entry validation;
#   6. the Windows builds (MinGW), their tests under Wine, their resources and packages (a
#      second build must give the same bytes);
#   7. the window on FLTK 1.4 (built from source with Wayland and X11): its tests at 96 and
#      192 dpi under Xvfb and under a headless Wayland compositor.
# Usage: scripts/test.sh [--quick]   (--quick: only step 1)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
quick=0
[ "${1:-}" = "--quick" ] && quick=1

# Each step's time is kept and listed at the end, so a slow step shows where CI time goes.
step_name=
step_start=$SECONDS
step_times=()
end_step() {
  [ -n "$step_name" ] && step_times+=("$(printf '%5d s  %s' $((SECONDS - step_start)) "$step_name")")
  step_name=
}
step() { end_step; echo; echo "=== $1"; step_name=${2:-$1}; step_start=$SECONDS; }

step "Packages (scripts/deps.sh test)" "Packages"
scripts/deps.sh test

jobs=$(nproc)
status=0

build() {   # build DIR [cmake args...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" >/dev/null
}

build_targets() {   # build_targets DIR "TARGETS" [cmake args...]
  local dir=$1 targets=$2; shift 2
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "$@" >/dev/null &&
    cmake --build "$dir" -j "$jobs" --target $targets >/dev/null
}

passed=0
failed=0
run_ctest() {   # run_ctest DIR [ctest args...]
  local dir=$1; shift
  local log
  log=$(mktemp)
  local rc=0
  (cd "$dir" && ctest --output-on-failure "$@") >"$log" 2>&1 || rc=$?
  cat "$log"
  [ $rc -eq 0 ] || status=1
  # "NN% tests passed, F tests failed out of T"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local f t
    f=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    t=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + t - f)); failed=$((failed + f))
  else
    status=1
  fi
  rm -f "$log"
}

step "Build and test (normal build)" "Normal build and tests"
build build
# Two at a time: most of these tests wait on the line's pauses and time limits, not the CPU.
run_ctest build -LE 'wine|fuzz|deb' -j "$jobs"

if [ $quick -eq 0 ]; then
  # umockdev's preload library is loaded before the sanitizer runtime; that is fine for us.
  export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

  step "AddressSanitizer + UndefinedBehaviorSanitizer" "AddressSanitizer + UBSan build and tests"
  build build-asan -DVF_SANITIZE=address,undefined -DVF_GUI=OFF -DVF_BENCH=OFF   # the benchmark programs run no test
  run_ctest build-asan -LE 'gui|bench' -j "$jobs"

  step "ThreadSanitizer (worker and threaded tests)" "ThreadSanitizer build and tests"
  # Only the programs of the tests labelled "threads" (the target thread_tests).
  build_targets build-tsan thread_tests \
    -DVF_SANITIZE=thread -DVF_GUI=OFF || { status=1; failed=$((failed + 1)); echo "FAIL: the ThreadSanitizer build"; }
  TSAN_OPTIONS=halt_on_error=1 run_ctest build-tsan -L threads

  step "Fuzz targets (libFuzzer)" "Fuzz targets"
  cmake -S "$root" -B build-fuzz -DVF_FUZZ=ON -DVF_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build-fuzz -j "$jobs" --target fuzz_hex_reader fuzz_device_list fuzz_event_lines link_fuzz_reply >/dev/null
  run_ctest build-fuzz -L fuzz -j "$jobs"   # each fuzzer runs on one core

  step "Debian packages (built twice, lintian, AppStream, desktop entry)" "Debian packages"
  cmake -S "$root" -B build -DVF_DEB_TESTS=ON >/dev/null
  run_ctest build -L deb
  if [ -f build/deb/lintian.txt ]; then
    echo "lintian on the packages:"
    sed 's/^/  /' build/deb/lintian.txt
  fi

  step "Windows builds (MinGW) and tests under Wine" "Windows builds, packages and Wine tests"
  # The shipped Windows target is 32-bit; it is built here to prove it compiles and packages.
  # Machines like ours run no 32-bit programs (the kernel's 32-bit emulation is off), so the
  # same code is also built for 64-bit Windows, and that build is tested under Wine.
  # Both targets with the window (FLTK built from ../shared/third_party or VF_FLTK_SOURCE)
  # and their zip and installer; the Wine tests include the window and the installer.
  JOBS=$jobs scripts/windows-build.sh || { status=1; failed=$((failed + 1)); echo "FAIL: the Windows builds"; }
  cmake -S "$root" -B build -DVF_WINE_TESTS=ON -DVF_MINGW_BUILD_DIR="$root/build-mingw64" \
        -DVF_MINGW32_BUILD_DIR="$root/build-mingw32" >/dev/null
  run_ctest build -L wine

  step "The window on FLTK 1.4 (Wayland and X11): window tests at 96 and 192 dpi and on Wayland" "FLTK 1.4 build and window tests"
  # Debian 12 has FLTK 1.3 only: this build makes FLTK 1.4 from the same source as the Windows
  # builds (once per build folder), and only what the window tests run.
  fltk14=${VF_FLTK_SOURCE:-$root/../shared/third_party/fltk-1.4.5-source.tar.gz}
  if [ -e "$fltk14" ]; then
    if build_targets build-fltk14 "varnoflex-update vf-testbed" -DVF_FLTK_SOURCE="$(realpath "$fltk14")"; then
      run_ctest build-fltk14 -L gui
    else
      status=1; failed=$((failed + 1)); echo "FAIL: the FLTK 1.4 build"
    fi
  elif [ "${CI:-}" = true ]; then
    status=1; failed=$((failed + 1)); echo "FAIL: no FLTK 1.4 source at $fltk14 (set VF_FLTK_SOURCE)"
  else
    echo "skipped: no FLTK 1.4 source at $fltk14 (set VF_FLTK_SOURCE)"
  fi
fi

end_step
echo
echo "time of each step:"
printf '%s\n' "${step_times[@]}"
echo "tests: $passed passed, $failed failed"
exit $status
