# SPDX-License-Identifier: MIT
# The part of the MinGW-w64 cross builds that is the same for 32-bit and 64-bit Windows; the
# toolchain files set VF_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR, then include this.
# The -posix compilers use the POSIX thread model, without which std::thread and std::mutex
# are missing. Programs are linked statically, so they run without MinGW DLLs beside them;
# tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VF_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VF_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VF_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VF_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
