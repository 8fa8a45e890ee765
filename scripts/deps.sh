#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian 12 packages needed to build, run and test varnoflex-update.
# Usage: scripts/deps.sh [run|test]   (run: what the program and its demo need; test: everything)
set -euo pipefail
what=${1:-test}

run_pkgs=(build-essential cmake pkg-config libfltk1.3-dev libudev-dev umockdev libumockdev-dev nlohmann-json3-dev
          xvfb xdotool python3 python3-xlib python3-pil tesseract-ocr tesseract-ocr-eng x11-utils)
test_pkgs=(googletest libgtest-dev clang libclang-rt-14-dev python3-pytest imagemagick
           g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
           wine wine64 zip nsis locales
           debhelper dpkg-dev help2man lintian appstream desktop-file-utils git)
# The FLTK 1.4 build that the window tests also run on (Wayland with the X11 fallback, as
# cmake/FltkSource.cmake configures it: what FLTK 1.4.5's CMake requires for that), and the
# compositor of its Wayland test.
test_pkgs+=(libwayland-dev wayland-protocols libxkbcommon-dev libdbus-1-dev libpango1.0-dev
            libcairo2-dev libxinerama-dev libxft-dev libxcursor-dev libxfixes-dev libxrender-dev
            weston)

pkgs=("${run_pkgs[@]}")
[ "$what" = test ] && pkgs+=("${test_pkgs[@]}")

missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deps.sh: installing packages needs root: run as root, or install sudo" >&2; exit 1; }
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
