# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
# The shipped program is the 32-bit build (toolchain-mingw32.cmake); this one runs the same
# Win32 code under 64-bit Wine on machines whose kernel cannot run 32-bit programs
# (ia32 emulation off), where 32-bit Wine does not start.
#   cmake -S . -B build-mingw64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DVF_GUI=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VF_MINGW_TRIPLE x86_64-w64-mingw32)
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
