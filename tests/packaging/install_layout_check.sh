#!/usr/bin/env bash
# What "cmake --install" (and so the .deb) puts on a machine: the programs, an empty data
# folder for the maker's data set (the desktop entry starts the window there), the sample
# data set only as examples under the documentation, and the udev rule that gives the user
# the converter and keeps ModemManager away from it.
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
data=$usr/share/varnoflex-update
[ -d "$data" ] || fail "no data folder $data"
[ -z "$(ls -A "$data")" ] || fail "the data folder is not empty: $(ls -A "$data" | tr '\n' ' ')"
examples=$usr/share/doc/varnoflex-update/examples
for f in devicelist.ovk SecurityGB.ovk HelpGB.ovk VX58PRO_V214.hex; do
  [ -f "$examples/$f" ] || fail "$f not in $examples"
done
# No sample file anywhere else.
others=$(find "$usr" -name '*.ovk' -o -name '*.hex' | grep -v "^$examples/" || true)
[ -z "$others" ] || fail "sample data outside the examples: $others"
echo "PASS: empty data folder, sample data as examples only"

rule=$root/usr/lib/udev/rules.d/60-varnoflex-ftdi.rules
[ -f "$rule" ] || rule=$(find "$root" -name 60-varnoflex-ftdi.rules | head -n 1)
[ -f "$rule" ] || fail "udev rule not installed"
line=$(grep -v '^#' "$rule" | grep 'ATTRS{idVendor}=="0403"')
grep -q 'TAG+="uaccess"' <<<"$line" || fail "rule gives no user access: $line"
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' <<<"$line" || fail "rule lets ModemManager probe: $line"
echo "PASS: udev rule with uaccess and ID_MM_DEVICE_IGNORE"
