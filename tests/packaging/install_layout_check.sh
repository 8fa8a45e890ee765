#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What "cmake --install" puts on a machine: the programs and their manual pages, the desktop
# entry and AppStream data, an empty data folder for the maker's data set (the desktop entry
# starts the window there), the sample data set only as examples under the documentation, and
# the udev rule that gives the user the converter and keeps ModemManager away from it.
# (The Debian package is checked by deb_check.sh.)
# usage: install_layout_check.sh BUILD_DIR
set -u
build=$1
root=$(mktemp -d "${TMPDIR:-/tmp}/vf-install.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR=$root cmake --install "$build" --prefix /usr >"$root/install.log" 2>&1 \
  || { cat "$root/install.log"; fail "install"; }
usr=$root/usr

[ -x "$usr/bin/varnoflex-cli" ] || fail "varnoflex-cli not installed"
pages="varnoflex-cli ovk-codec"
# The data folder as configured (VF_DATA_DIR); the desktop entry starts the window there.
path=$(sed -n 's/^VF_DATA_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$path" ] || fail "no VF_DATA_DIR in $build/CMakeCache.txt"
what="manual pages"
if [ -x "$usr/bin/varnoflex-update" ]; then   # builds with the window (VF_GUI)
  pages="$pages varnoflex-update"
  desktop=$usr/share/applications/varnoflex-update.desktop
  [ -f "$desktop" ] || fail "no desktop entry"
  [ -f "$usr/share/metainfo/invalid.varnoflex.update.metainfo.xml" ] || fail "no AppStream data"
  grep -qx "Path=$path" "$desktop" || fail "the desktop entry does not start the window in $path"
  what="$what, desktop entry, AppStream data"
fi
for page in $pages; do
  [ -f "$usr/share/man/man1/$page.1" ] || fail "no manual page $page(1)"
done
data=$root$path
[ -d "$data" ] || fail "no data folder $path"
[ -z "$(ls -A "$data")" ] || fail "the data folder is not empty: $(ls -A "$data" | tr '\n' ' ')"
examples=$usr/share/doc/varnoflex-update/examples
for f in devicelist.ovk SecurityGB.ovk HelpGB.ovk VX58PRO_V214.hex; do
  [ -f "$examples/$f" ] || fail "$f not in $examples"
done
# No sample file anywhere else.
others=$(find "$root" -name '*.ovk' -o -name '*.hex' | grep -v "^$examples/" || true)
[ -z "$others" ] || fail "sample data outside the examples: $others"
echo "PASS: $what; empty data folder $path, sample data as examples only"

rule=$root/usr/lib/udev/rules.d/60-varnoflex-ftdi.rules
[ -f "$rule" ] || rule=$(find "$root" -name 60-varnoflex-ftdi.rules | head -n 1)
[ -f "$rule" ] || fail "udev rule not installed"
line=$(grep -v '^#' "$rule" | grep 'ATTRS{idVendor}=="0403"')
grep -q 'TAG+="uaccess"' <<<"$line" || fail "rule gives no user access: $line"
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' <<<"$line" || fail "rule lets ModemManager probe: $line"
echo "PASS: udev rule with uaccess and ID_MM_DEVICE_IGNORE"
