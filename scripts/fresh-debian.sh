#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command in a fresh, minimal Debian 12 (debootstrap --variant=minbase, nothing else
# installed) holding only a clean clone of this checkout's committed HEAD: the check that the
# README's commands work for a new user, whose machine lacks everything a developer installed
# by hand.
#
# Usage (as root):  scripts/fresh-debian.sh [--no-apt-cache] COMMAND
#   e.g.            scripts/fresh-debian.sh 'scripts/demo.sh'
#
# - The clone is at /root/project, and the command runs there as root with a clean
#   environment (HOME, PATH, LANG=C.UTF-8, TERM; CI is passed through when set).
# - The third-party sources beside the checkout (../shared/third_party) are copied to the same
#   place beside the clone, as CI has them.
# - The pristine system is made once with the mirror of this machine's apt sources and cached
#   as $VF_FRESH_CACHE (default /var/tmp/varnoflex-deb12-minbase.tar); later runs unpack it in
#   a few seconds.
# - Downloaded .deb files are kept in /var/cache/varnoflex-fresh-apt and lent to the next run,
#   like a local mirror: every package must still be installed by the project's own scripts.
#   --no-apt-cache downloads everything again.
# - The system runs in a mount namespace of its own (/proc, /sys, /dev, /dev/pts bound, a new
#   /dev/shm): when the command ends, however it ends, its processes are stopped, its mounts
#   vanish and the folder is removed.
# Exit status: the command's; 3 when the base system cannot be made (debootstrap failed to
# fetch it), with one line saying so.
set -euo pipefail

apt_cache=/var/cache/varnoflex-fresh-apt
if [ "${1:-}" = "--no-apt-cache" ]; then apt_cache=""; shift; fi
[ $# -eq 1 ] || { echo "usage: $0 [--no-apt-cache] COMMAND" >&2; exit 64; }
command=$1
[ "$(id -u)" -eq 0 ] || { echo "fresh-debian: must run as root (it uses chroot and mounts)" >&2; exit 64; }

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${VF_FRESH_CACHE:-/var/tmp/varnoflex-deb12-minbase.tar}

# The Debian mirror this machine's apt uses (deb822 sources first, then the one-line format).
debian_mirror() {
  local uri=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" && $3 ~ /^bookworm$/ {print $2; exit}' /etc/apt/sources.list)
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

make_base_system() {
  if ! command -v debootstrap >/dev/null; then
    echo "fresh-debian: installing debootstrap on this machine"
    apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  fi
  local mirror log target
  mirror=$(debian_mirror)
  log=/var/tmp/varnoflex-debootstrap.log
  target=$(mktemp -d /var/tmp/varnoflex-deb12-base.XXXXXX)
  echo "fresh-debian: making a minimal Debian 12 from $mirror (once; cached as $cache)"
  local try ok=0
  for try in 1 2; do
    if debootstrap --variant=minbase bookworm "$target" "$mirror" >"$log" 2>&1; then
      ok=1; break
    fi
    rm -rf --one-file-system "$target"; mkdir -p "$target"
    [ $try -eq 1 ] && sleep 10
  done
  if [ $ok -eq 0 ]; then
    rm -rf --one-file-system "$target"
    echo "fresh-debian: INFRASTRUCTURE: debootstrap could not fetch Debian 12 from $mirror (log: $log); no test was run"
    exit 3
  fi
  chmod 755 "$target"
  tar -C "$target" -cf "$cache.part" . && mv "$cache.part" "$cache"
  rm -rf --one-file-system "$target"
}

[ -f "$cache" ] || make_base_system

root=$(mktemp -d /var/tmp/varnoflex-fresh.XXXXXX)
# Stops every process whose root is the fresh system (the command's, whatever it left behind).
stop_inside() {
  local pass p
  for pass in TERM KILL; do
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -s "$pass" "${p#/proc/}" 2>/dev/null
    done
    sleep 1
  done
}
remove_root() {
  stop_inside
  # Nothing is mounted under $root in this namespace; --one-file-system guards anyway.
  rm -rf --one-file-system "$root"
}
trap remove_root EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
tar -C "$root" -xf "$cache"
chmod 755 "$root"   # the system's /: other users (apt's _apt, test users) must reach it
git clone -q --no-hardlinks "$repo" "$root/root/project"
if [ -d "$repo/../shared/third_party" ]; then
  mkdir -p "$root/root/shared"
  cp -r "$repo/../shared/third_party" "$root/root/shared/"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
if [ -n "$apt_cache" ]; then mkdir -p "$apt_cache/partial"; fi

env_vars=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
          LANG=C.UTF-8 TERM="${TERM:-xterm}")
[ -n "${CI:-}" ] && env_vars+=(CI="$CI")

echo "fresh-debian: running in a fresh Debian 12 (clone of $(git -C "$repo" rev-parse --short HEAD)): $command"
status=0
# The inner shell mounts what the system needs in a private mount namespace and runs the
# command; when it ends, the kernel drops the mounts with the namespace.
unshare --mount --propagation private /bin/bash -s "$root" "$apt_cache" "$command" "${env_vars[@]}" <<'INNER' &
set -u
root=$1 apt_cache=$2 command=$3; shift 3
for m in proc sys dev dev/pts; do mount --bind "/$m" "$root/$m"; done
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
[ -n "$apt_cache" ] && mount --bind "$apt_cache" "$root/var/cache/apt/archives"
status=0
chroot "$root" /usr/bin/env -i "$@" /bin/bash -c 'cd /root/project && eval "$0"' "$command" </dev/null \
  || status=$?
exit $status
INNER
wait $! || status=$?
echo "fresh-debian: the command ended with status $status"
exit $status
