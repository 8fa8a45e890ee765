#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows configure without an FLTK source: it goes on without the window and says in one
# line what to provide; under CI (CI=true) it fails instead; a folder that is no FLTK source,
# or an FLTK older than 1.4, is refused. Each case configures a fresh MinGW build folder
# (tests and tools off).
# usage: fltk_source_check.sh SOURCE_DIR
set -u
src=$1
unset VF_FLTK_SOURCE
work=$(mktemp -d "${TMPDIR:-/tmp}/vf-fltk-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# CMake wraps error messages: compare the output as one line.
says() { tr '\n' ' ' <"$work/$1.out" | tr -s ' ' | grep -q -F "$2"; }

configure() {   # configure NAME [cmake args...]: output in $work/NAME.out, returns cmake's status
  local name=$1; shift
  cmake -S "$src" -B "$work/$name" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw64.cmake" \
        -DBUILD_TESTING=OFF "$@" >"$work/$name.out" 2>&1
}
hint='the Windows window (varnoflex-update.exe) is not built: no FLTK source; pass -DVF_FLTK_SOURCE='

CI= configure missing -DVF_FLTK_SOURCE= \
  || { cat "$work/missing.out"; fail "configure without a source failed outside CI"; }
[ "$(grep -c -F "$hint" "$work/missing.out")" -eq 1 ] || { cat "$work/missing.out"; fail "no one-line hint"; }
[ -d "$work/missing/app/CMakeFiles/varnoflex-update.dir" ] && fail "window target made without FLTK"
echo "PASS: without a source the window is skipped with one line"

if CI=true configure ci -DVF_FLTK_SOURCE=; then
  fail "configure without a source passed under CI=true"
fi
says ci "$hint" || { cat "$work/ci.out"; fail "CI failure does not say what to provide"; }
echo "PASS: under CI a missing source is an error"

mkdir "$work/not-fltk"
if CI= configure wrong -DVF_FLTK_SOURCE="$work/not-fltk"; then
  fail "configure accepted a folder that is no FLTK source"
fi
says wrong "not-fltk is not an FLTK source" || { cat "$work/wrong.out"; fail "no reason given"; }
echo "PASS: a folder that is no FLTK source is refused"

# An FLTK 1.3 tree (its version header is all that is read before the build would start).
mkdir -p "$work/fltk-1.3/FL"
touch "$work/fltk-1.3/FL/Fl.H" "$work/fltk-1.3/CMakeLists.txt"
printf '#define FL_MAJOR_VERSION 1\n#define FL_MINOR_VERSION\t3\n' >"$work/fltk-1.3/FL/Enumerations.H"
if CI= configure old -DVF_FLTK_SOURCE="$work/fltk-1.3"; then
  fail "configure accepted an FLTK 1.3 source"
fi
says old "is FLTK 1.3; the build needs FLTK 1.4 or later" || { cat "$work/old.out"; fail "no reason given for 1.3"; }
echo "PASS: an FLTK 1.3 source is refused"
