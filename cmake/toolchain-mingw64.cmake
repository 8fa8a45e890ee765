# SPDX-License-Identifier: MIT
# Cross build for 64-bit Windows (Debian: g++-mingw-w64-x86-64-posix). The shipped program is
# the 32-bit build (toolchain-mingw32.cmake); this one runs the same Win32 code under 64-bit
# Wine on machines whose kernel cannot run 32-bit programs (ia32 emulation off), where 32-bit
# Wine does not start.
#   cmake -S . -B build-mingw64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DVF_FLTK_SOURCE=<fltk-1.4.5 tarball or tree>
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VF_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
