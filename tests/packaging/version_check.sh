#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One version everywhere it is written by hand: the project's (CMake), the Debian changelog's,
# the newest release of the AppStream data and the manual pages' headers. The Windows
# version information takes it from CMake.
# usage: version_check.sh SOURCE_DIR VERSION
set -u
src=$1
version=$2
fail=0
check() {   # check WHAT FOUND
  if [ "$2" = "$version" ]; then
    echo "PASS: $1 $2"
  else
    echo "FAIL: $1 says '$2', the project $version"
    fail=1
  fi
}
check "debian/changelog" "$(dpkg-parsechangelog -l "$src/debian/changelog" -SVersion)"
check "the AppStream data's newest release" \
  "$(grep -o '<release version="[^"]*"' "$src"/packaging/*.metainfo.xml | head -n 1 | sed 's/.*version="\(.*\)"/\1/')"
for page in "$src"/cli/varnoflex-cli.1 "$src"/packaging/man/*.1; do
  check "$(basename "$page")" "$(sed -n 's/^\.TH .*"varnoflex-update \([^"]*\)".*/\1/p' "$page")"
done
exit $fail
