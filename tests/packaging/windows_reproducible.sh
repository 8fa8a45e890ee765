#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows packages are reproducible: a second build of the same source in another build
# folder, later, gives the same programs, zip and installer, byte for byte. The second build
# reuses the first one's FLTK (copied, so FLTK is not built again) and builds only what is
# packaged.
# usage: windows_reproducible.sh SOURCE_DIR MINGW_BUILD_DIR
#   MINGW_BUILD_DIR: a MinGW build whose packages were made (scripts/windows-build.sh)
set -u
src=$(cd "$1" && pwd)
first=$(cd "$2" && pwd)
fail=0
die() { echo "FAIL: $*"; exit 1; }

cache() { sed -n "s/^$1:[A-Z]*=//p" "$first/CMakeCache.txt"; }
toolchain=$(cache CMAKE_TOOLCHAIN_FILE)
build_type=$(cache CMAKE_BUILD_TYPE)
fltk_source=$(cache VF_FLTK_SOURCE)
[ -n "$toolchain" ] || die "$first is not a MinGW build (no CMAKE_TOOLCHAIN_FILE)"
packages=$(cd "$first" && ls varnoflex-update-*.zip varnoflex-update-*.exe 2>/dev/null)
[ "$(echo "$packages" | wc -w)" -eq 2 ] || die "$first holds no zip and installer (run scripts/windows-build.sh)"

second=$(mktemp -d "${TMPDIR:-/tmp}/vf-windows-again.XXXXXX")
trap 'rm -rf "$second"' EXIT
start=$SECONDS
targets=(varnoflex-cli)
if [ -f "$first/app/varnoflex-update.exe" ]; then
  targets+=(varnoflex-update)
  cp -a "$first/fltk-mingw" "$second/" || die "copying the first build's FLTK"
fi
cmake -S "$src" -B "$second" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="$build_type" \
      -DVF_FLTK_SOURCE="$fltk_source" -DBUILD_TESTING=OFF >"$second/configure.log" 2>&1 \
  || { cat "$second/configure.log"; die "configure"; }
grep -q 'FLTK (mingw): building' "$second/configure.log" && echo "note: FLTK was built again"
cmake --build "$second" -j "${JOBS:-2}" --target "${targets[@]}" >"$second/build.log" 2>&1 \
  || { tail -n 30 "$second/build.log"; die "build"; }
(cd "$second" && cpack >cpack.log 2>&1) || { cat "$second/cpack.log"; die "cpack"; }
echo "second build and packages in $((SECONDS - start)) s"

for program in cli/varnoflex-cli.exe app/varnoflex-update.exe; do
  [ -f "$first/$program" ] || continue
  if cmp -s "$first/$program" "$second/$program"; then
    echo "PASS: $(basename "$program") is the same bytes"
  else
    echo "FAIL: $(basename "$program") differs: $(cmp "$first/$program" "$second/$program")"
    fail=1
  fi
done
for package in $packages; do
  if cmp -s "$first/$package" "$second/$package"; then
    echo "PASS: $package is the same bytes"
  else
    echo "FAIL: $package differs: $(cmp "$first/$package" "$second/$package")"
    fail=1
  fi
done
exit $fail
