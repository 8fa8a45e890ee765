#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian packages as a distribution would take them: dpkg-buildpackage builds them from
# a copy of the source tree, twice (two folders at different paths, minutes apart, another
# time zone and umask), and the two results must be the same bytes. lintian must find no
# error and no warning (its whole output is printed); the AppStream data and the desktop
# entry must validate; nothing may land under /usr/local; the udev rule, the manual pages and
# the debug symbol packages must be where Debian keeps them.
# usage: deb_check.sh SOURCE_DIR OUTPUT_DIR   (OUTPUT_DIR keeps the packages and the logs)
set -u
source_dir=$(cd "$1" && pwd)
out=$2
fail=0
say_fail() { echo "FAIL: $*"; fail=1; }
die() { echo "FAIL: $*"; exit 1; }

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/vf-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The tree as it is (committed or not), without build folders and other ignored files.
copy_tree() {   # copy_tree DEST
  mkdir -p "$1"
  if ! git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$source_dir" && tar --exclude='./build*' --exclude='./obj-*' -cf - .) | tar -xf - -C "$1" \
      || die "copying the source tree to $1"
    return
  fi
  (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard \
     | while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done \
     | xargs -0 cp -P --parents -t "$1") || die "copying the source tree to $1"
}

build() {   # build NAME TREE [env...]: dpkg-buildpackage in TREE, packages beside it
  local name=$1 tree=$2 start=$SECONDS
  shift 2
  copy_tree "$tree"
  if ! (cd "$tree" && env "$@" dpkg-buildpackage -us -uc -b -j2) >"$out/build-$name.log" 2>&1; then
    tail -n 40 "$out/build-$name.log"
    die "dpkg-buildpackage ($name), log in $out/build-$name.log"
  fi
  echo "built $name in $((SECONDS - start)) s: $(cd "$tree/.." && ls ./*.deb | tr '\n' ' ')"
}

build one "$work/one/varnoflex-update"
# The second build: another path (longer, deeper), another time zone and umask, later.
(umask 0002 && build two "$work/second-build/x/varnoflex-update" TZ=Pacific/Auckland LC_ALL=C.UTF-8) || exit 1
one=$work/one
two=$work/second-build/x

# Byte for byte, every package (the -dbgsym ones too).
debs=$(cd "$one" && ls ./*.deb | sed 's|^\./||')
[ "$(cd "$one" && ls ./*.deb)" = "$(cd "$two" && ls ./*.deb)" ] \
  || say_fail "the two builds made different packages: $(ls "$one"/*.deb "$two"/*.deb)"
same=1
for deb in $debs; do
  if ! cmp -s "$one/$deb" "$two/$deb"; then
    same=0
    say_fail "$deb differs between the two builds"
    mkdir -p "$work/x1/$deb" "$work/x2/$deb"
    dpkg-deb -R "$one/$deb" "$work/x1/$deb" && dpkg-deb -R "$two/$deb" "$work/x2/$deb"
    diff -r "$work/x1/$deb" "$work/x2/$deb" | head -n 20
  fi
done
[ $same -eq 1 ] && echo "PASS: the two builds' packages are the same bytes ($(echo $debs | wc -w) packages)"
cp "$one"/*.deb "$one"/*.changes "$one"/*.buildinfo "$out"/

# lintian, everything it says (info and pedantic included); errors and warnings fail.
changes=$(ls "$one"/*.changes)
lintian --display-info --display-experimental --pedantic --show-overrides --tag-display-limit 0 "$changes" \
  >"$out/lintian.txt" 2>&1
echo "lintian $(lintian --version | sed 's/^Lintian v//'):"
sed 's/^/  /' "$out/lintian.txt"
grep -Eq '^[EW]: ' "$out/lintian.txt" && say_fail "lintian reports errors or warnings"
grep -q 'hardening-' "$out/lintian.txt" && say_fail "lintian finds binaries built without hardening"
grep -Eq '^[EW]: ' "$out/lintian.txt" || echo "PASS: lintian: no error, no warning"

# What the main package installs.
root=$work/root
dpkg-deb -x "$one"/varnoflex-update_*.deb "$root"
dpkg-deb -x "$one"/varnoflex-update-testbed_*.deb "$root"
for deb in $debs; do
  dpkg-deb -c "$one/$deb" | grep -q '\./usr/local' && say_fail "$deb installs under /usr/local"
done
for f in lib/udev/rules.d/60-varnoflex-ftdi.rules \
         usr/share/man/man1/varnoflex-update.1.gz usr/share/man/man1/varnoflex-cli.1.gz \
         usr/share/man/man1/ovk-codec.1.gz usr/share/man/man1/vf-sim.1.gz \
         usr/share/man/man1/vf-testbed.1.gz usr/share/doc/varnoflex-update/copyright \
         usr/share/doc/varnoflex-update/examples/devicelist.ovk usr/bin/vf-testbed; do
  [ -f "$root/$f" ] || say_fail "the packages hold no /$f"
done
ls "$one"/varnoflex-update-dbgsym_*.deb >/dev/null 2>&1 || say_fail "no debug symbols package"
desktop=$root/usr/share/applications/varnoflex-update.desktop
grep -qx 'Path=/usr/local/share/varnoflex-update' "$desktop" \
  || say_fail "the desktop entry does not start the window in /usr/local/share/varnoflex-update"
grep -q 'mkdir -p "$datadir"' <(dpkg-deb --ctrl-tarfile "$one"/varnoflex-update_*.deb | tar -xO ./postinst) \
  || say_fail "the postinst does not make the data folder"
echo "PASS: the udev rule, manual pages, examples, debug symbols and data folder where Debian keeps them"

# The AppStream data and the desktop entry as software centres and menus read them.
metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml)
appstreamcli validate --no-net --pedantic "$metainfo" >"$out/appstream.txt" 2>&1
as_rc=$?
sed 's/^/  /' "$out/appstream.txt"
if [ $as_rc -ne 0 ] || grep -Eq '^[EW]: ' "$out/appstream.txt"; then
  say_fail "appstreamcli validate: errors or warnings"
else
  echo "PASS: appstreamcli validate $(basename "$metainfo")"
fi
dv=$(desktop-file-validate "$desktop" 2>&1)
[ -n "$dv" ] && echo "$dv" | sed 's/^/  /'
if grep -Eq 'error:|warning:' <<<"$dv"; then
  say_fail "desktop-file-validate"
else
  echo "PASS: desktop-file-validate varnoflex-update.desktop"
fi
grep -qx 'StartupWMClass=varnoflex-update' "$desktop" || say_fail "no StartupWMClass=varnoflex-update"
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" \
  || say_fail "the AppStream data does not launch $(basename "$desktop")"

exit $fail
