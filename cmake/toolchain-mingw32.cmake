# SPDX-License-Identifier: MIT
# Cross build for 32-bit Windows, the shipped Windows target (Debian: g++-mingw-w64-i686-posix).
#   cmake -S . -B build-mingw32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake \
#         -DVF_FLTK_SOURCE=<fltk-1.4.5 tarball or tree>   (without it: no window, see FltkSource.cmake)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VF_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
