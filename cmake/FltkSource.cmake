# FLTK for the Windows window, built with this build's MinGW toolchain at configure time.
# Debian packages FLTK for Linux only, so the Windows configure builds it from a source the
# user gives (the FLTK 1.3.8 release, as a .tar.gz or an unpacked tree):
#   cmake ... -DVF_FLTK_SOURCE=/path/fltk-1.3.8-source.tar.gz     (or env VF_FLTK_SOURCE)
# It is built once per build folder into <build>/fltk-mingw/ (again only when the source or
# the toolchain changes), with FLTK's bundled zlib/png/jpeg and no OpenGL; only the core
# library is compiled, which is all the window links. The result is the imported target
# vf::fltk. Without a source, VF_FLTK_FOUND is FALSE and the caller skips the window; with
# CI=true in the environment a missing source is an error.

set(VF_FLTK_SOURCE "$ENV{VF_FLTK_SOURCE}" CACHE PATH
    "FLTK 1.3 source for the Windows window: a .tar.gz or an unpacked source tree")
set(VF_FLTK_FOUND FALSE)

if(NOT VF_FLTK_SOURCE OR NOT EXISTS "${VF_FLTK_SOURCE}")
  set(vf_fltk_hint "the Windows window (varnoflex-update.exe) is not built: no FLTK source; pass -DVF_FLTK_SOURCE=<fltk-1.3.8-source.tar.gz or unpacked tree> or set VF_FLTK_SOURCE")
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "${vf_fltk_hint}")
  endif()
  message(STATUS "${vf_fltk_hint}")
  return()
endif()

set(vf_fltk_root ${CMAKE_BINARY_DIR}/fltk-mingw)
set(vf_fltk_prefix ${vf_fltk_root}/install)
set(vf_fltk_stamp ${vf_fltk_root}/built-from.txt)
get_filename_component(vf_fltk_source_abs "${VF_FLTK_SOURCE}" ABSOLUTE)
set(vf_fltk_stamp_text "${vf_fltk_source_abs}\n${CMAKE_TOOLCHAIN_FILE}\n")

set(vf_fltk_old_stamp "")
if(EXISTS ${vf_fltk_stamp})
  file(READ ${vf_fltk_stamp} vf_fltk_old_stamp)
endif()

if(NOT vf_fltk_old_stamp STREQUAL vf_fltk_stamp_text
   OR NOT EXISTS ${vf_fltk_prefix}/lib/libfltk.a)
  file(REMOVE_RECURSE ${vf_fltk_root})
  file(MAKE_DIRECTORY ${vf_fltk_root})

  if(IS_DIRECTORY "${vf_fltk_source_abs}")
    set(vf_fltk_src "${vf_fltk_source_abs}")
  else()
    message(STATUS "FLTK for MinGW: unpacking ${vf_fltk_source_abs}")
    file(ARCHIVE_EXTRACT INPUT "${vf_fltk_source_abs}" DESTINATION ${vf_fltk_root}/src)
    # The release tarball holds one top folder (fltk-1.3.8/); accept a flat one too.
    file(GLOB vf_fltk_lists ${vf_fltk_root}/src/CMakeLists.txt ${vf_fltk_root}/src/*/CMakeLists.txt)
    list(GET vf_fltk_lists 0 vf_fltk_first)
    get_filename_component(vf_fltk_src "${vf_fltk_first}" DIRECTORY)
  endif()
  if(NOT EXISTS "${vf_fltk_src}/FL/Fl.H" OR NOT EXISTS "${vf_fltk_src}/CMakeLists.txt")
    message(FATAL_ERROR "${VF_FLTK_SOURCE} is not an FLTK source (no FL/Fl.H and CMakeLists.txt)")
  endif()

  message(STATUS "FLTK for MinGW: building ${vf_fltk_src} (log: ${vf_fltk_root}/build.log)")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${vf_fltk_src} -B ${vf_fltk_root}/build
            -G ${CMAKE_GENERATOR}
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
            -DCMAKE_BUILD_TYPE=Release
            -DOPTION_USE_SYSTEM_ZLIB=OFF -DOPTION_USE_SYSTEM_LIBPNG=OFF
            -DOPTION_USE_SYSTEM_LIBJPEG=OFF -DOPTION_USE_GL=OFF
            -DFLTK_BUILD_TEST=OFF -DFLTK_BUILD_EXAMPLES=OFF
            -DOPTION_BUILD_HTML_DOCUMENTATION=OFF -DOPTION_BUILD_PDF_DOCUMENTATION=OFF
    OUTPUT_FILE ${vf_fltk_root}/configure.log ERROR_FILE ${vf_fltk_root}/configure.log
    RESULT_VARIABLE vf_fltk_rc)
  if(NOT vf_fltk_rc EQUAL 0)
    message(FATAL_ERROR "FLTK for MinGW: configure failed (see ${vf_fltk_root}/configure.log)")
  endif()
  # Two jobs unless the caller asks otherwise: build machines here are small and shared.
  set(vf_fltk_jobs "$ENV{CMAKE_BUILD_PARALLEL_LEVEL}")
  if(NOT vf_fltk_jobs)
    set(vf_fltk_jobs 2)
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${vf_fltk_root}/build --target fltk -j ${vf_fltk_jobs}
    OUTPUT_FILE ${vf_fltk_root}/build.log ERROR_FILE ${vf_fltk_root}/build.log
    RESULT_VARIABLE vf_fltk_rc)
  if(NOT vf_fltk_rc EQUAL 0)
    message(FATAL_ERROR "FLTK for MinGW: build failed (see ${vf_fltk_root}/build.log)")
  endif()

  # Install what the window uses: the public headers (with the generated ABI header) and the
  # core library. FLTK's own install target would also build fluid and the image libraries.
  file(COPY ${vf_fltk_src}/FL DESTINATION ${vf_fltk_prefix}/include)
  file(COPY ${vf_fltk_root}/build/FL/abi-version.h DESTINATION ${vf_fltk_prefix}/include/FL)
  file(COPY ${vf_fltk_root}/build/lib/libfltk.a DESTINATION ${vf_fltk_prefix}/lib)
  file(REMOVE_RECURSE ${vf_fltk_root}/build)
  if(NOT IS_DIRECTORY "${vf_fltk_source_abs}")
    file(REMOVE_RECURSE ${vf_fltk_root}/src)
  endif()
  file(WRITE ${vf_fltk_stamp} "${vf_fltk_stamp_text}")
  message(STATUS "FLTK for MinGW: installed in ${vf_fltk_prefix}")
endif()

add_library(vf::fltk STATIC IMPORTED GLOBAL)
set_target_properties(vf::fltk PROPERTIES
  IMPORTED_LOCATION ${vf_fltk_prefix}/lib/libfltk.a
  # FLTK's headers are system headers for us: -Wall -Wextra stay about our code.
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${vf_fltk_prefix}/include
  INTERFACE_INCLUDE_DIRECTORIES ${vf_fltk_prefix}/include
  # Strict -std=c++20 predefines only _WIN32; FLTK 1.3's FL/x.H needs WIN32 to pick the
  # Win32 back end instead of X11.
  INTERFACE_COMPILE_DEFINITIONS WIN32
  INTERFACE_LINK_LIBRARIES "ole32;uuid;comctl32;ws2_32;gdi32;comdlg32;winspool")
set(VF_FLTK_FOUND TRUE)
