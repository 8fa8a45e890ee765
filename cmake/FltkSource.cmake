# SPDX-License-Identifier: MIT
# FLTK built from source at configure time with this build's compilers, once per build folder
# into <build>/fltk-<system>/ (again only when the source, the toolchain or the options
# change). FLTK 1.4 or later, static, no OpenGL; only the core library is compiled, which is
# all the window links.
#   cmake ... -DVF_FLTK_SOURCE=/path/fltk-1.4.5-source.tar.gz      (or an unpacked tree)
#
# Windows (MinGW): Debian packages FLTK for Linux only, so the window needs a source (the
# environment's VF_FLTK_SOURCE is taken too). FLTK's own zlib, png and jpeg. The result is the
# imported target vf::fltk. Without a source VF_FLTK_FOUND is FALSE and the caller skips the
# window; with CI=true in the environment a missing source is an error.
#
# Linux: only when VF_FLTK_SOURCE is given on the command line (the distribution's FLTK is the
# default; a shell set up for the Windows build must not change the Linux one). Built as
# Debian 13 builds FLTK 1.4: the Wayland back end with its bundled libdecor and the X11
# fallback, Cairo drawing and Pango text, D-Bus for the cursor theme; libdecor's GTK plugin is
# left out (it needs GTK 3's development files), so its Cairo plugin draws the title bars.
# The result is VF_FLTK_CONFIG, the built FLTK's fltk-config.

if(WIN32)
  set(VF_FLTK_SOURCE "$ENV{VF_FLTK_SOURCE}" CACHE PATH
      "FLTK 1.4 source (.tar.gz or unpacked tree), built for the window")
else()
  set(VF_FLTK_SOURCE "" CACHE PATH
      "FLTK 1.4 source (.tar.gz or unpacked tree) to build instead of using the system's FLTK")
endif()
set(VF_FLTK_FOUND FALSE)

if(NOT VF_FLTK_SOURCE OR NOT EXISTS "${VF_FLTK_SOURCE}")
  if(NOT WIN32)
    if(VF_FLTK_SOURCE)
      message(FATAL_ERROR "VF_FLTK_SOURCE: ${VF_FLTK_SOURCE} does not exist")
    endif()
    return()
  endif()
  set(vf_fltk_hint "the Windows window (varnoflex-update.exe) is not built: no FLTK source; pass -DVF_FLTK_SOURCE=<fltk-1.4.5-source.tar.gz or unpacked tree> or set VF_FLTK_SOURCE")
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "${vf_fltk_hint}")
  endif()
  message(STATUS "${vf_fltk_hint}")
  return()
endif()

# What every build leaves out: programs, documentation, OpenGL, the forms library.
set(vf_fltk_options
  -DCMAKE_BUILD_TYPE=Release
  -DFLTK_BUILD_SHARED_LIBS=OFF
  -DFLTK_BUILD_TEST=OFF -DFLTK_BUILD_EXAMPLES=OFF
  -DFLTK_BUILD_FLUID=OFF -DFLTK_BUILD_FLTK_OPTIONS=OFF -DFLTK_BUILD_FORMS=OFF
  -DFLTK_BUILD_GL=OFF -DFLTK_BUILD_HTML_DOCS=OFF -DFLTK_BUILD_PDF_DOCS=OFF)
if(WIN32)
  set(vf_fltk_system mingw)
  list(APPEND vf_fltk_options
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DFLTK_USE_SYSTEM_ZLIB=OFF -DFLTK_USE_SYSTEM_LIBPNG=OFF -DFLTK_USE_SYSTEM_LIBJPEG=OFF)
else()
  set(vf_fltk_system linux)
  list(APPEND vf_fltk_options
    -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
    -DFLTK_BACKEND_WAYLAND=ON -DFLTK_BACKEND_X11=ON
    -DFLTK_USE_SYSTEM_LIBDECOR=OFF -DFLTK_USE_LIBDECOR_GTK=OFF -DFLTK_USE_DBUS=ON)
endif()

# FLTK 1.4.5's Wayland back end crashes at start on a compositor that offers a clipboard but
# no seat (no input devices: Weston's headless back end, which the Wayland test uses): the
# seat record it makes for the clipboard leaves its list of pointer outputs uninitialised,
# and the first output event walks that list. The fix initialises it; a source that no
# longer has the faulty lines is left as it is. Applied to the unpacked tarball only.
function(vf_fltk_fix_seatless_wayland src)
  set(file ${src}/src/drivers/Wayland/Fl_Wayland_Screen_Driver.cxx)
  if(NOT EXISTS ${file})
    return()
  endif()
  file(READ ${file} text)
  set(faulty "  } else if (strcmp(interface, wl_data_device_manager_interface.name) == 0) {
    if (!scr_driver->seat) scr_driver->seat =
      (struct Fl_Wayland_Screen_Driver::seat*)calloc(1,
              sizeof(struct Fl_Wayland_Screen_Driver::seat));
")
  set(fixed "  } else if (strcmp(interface, wl_data_device_manager_interface.name) == 0) {
    if (!scr_driver->seat) {
      scr_driver->seat = (struct Fl_Wayland_Screen_Driver::seat*)calloc(1,
              sizeof(struct Fl_Wayland_Screen_Driver::seat));
      wl_list_init(&scr_driver->seat->pointer_outputs);
    }
")
  string(FIND "${text}" "${faulty}" at)
  if(at EQUAL -1)
    return()
  endif()
  string(REPLACE "${faulty}" "${fixed}" text "${text}")
  file(WRITE ${file} "${text}")
  message(STATUS "FLTK (linux): fixed the seatless Wayland start")
endfunction()

set(vf_fltk_root ${CMAKE_BINARY_DIR}/fltk-${vf_fltk_system})
set(vf_fltk_prefix ${vf_fltk_root}/install)
set(vf_fltk_stamp ${vf_fltk_root}/built-from.txt)
get_filename_component(vf_fltk_source_abs "${VF_FLTK_SOURCE}" ABSOLUTE)
string(REPLACE ";" " " vf_fltk_stamp_options "${vf_fltk_options}")
set(vf_fltk_stamp_text "${vf_fltk_source_abs}\n${vf_fltk_stamp_options}\n")
if(NOT WIN32)
  string(APPEND vf_fltk_stamp_text "with the seatless Wayland fix\n")
endif()

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
    message(STATUS "FLTK (${vf_fltk_system}): unpacking ${vf_fltk_source_abs}")
    file(ARCHIVE_EXTRACT INPUT "${vf_fltk_source_abs}" DESTINATION ${vf_fltk_root}/src)
    # The release tarball holds one top folder (fltk-1.4.5/); accept a flat one too.
    file(GLOB vf_fltk_lists ${vf_fltk_root}/src/CMakeLists.txt ${vf_fltk_root}/src/*/CMakeLists.txt)
    list(GET vf_fltk_lists 0 vf_fltk_first)
    get_filename_component(vf_fltk_src "${vf_fltk_first}" DIRECTORY)
  endif()
  if(NOT EXISTS "${vf_fltk_src}/FL/Fl.H" OR NOT EXISTS "${vf_fltk_src}/CMakeLists.txt")
    message(FATAL_ERROR "${VF_FLTK_SOURCE} is not an FLTK source (no FL/Fl.H and CMakeLists.txt)")
  endif()
  if(NOT WIN32 AND NOT IS_DIRECTORY "${vf_fltk_source_abs}")
    vf_fltk_fix_seatless_wayland("${vf_fltk_src}")
  endif()
  # 1.4's option names, headers and scaling are what this build relies on.
  file(STRINGS "${vf_fltk_src}/FL/Enumerations.H" vf_fltk_minor
       REGEX "^#define FL_MINOR_VERSION[ \t]+[0-9]+")
  string(REGEX MATCH "[0-9]+$" vf_fltk_minor "${vf_fltk_minor}")
  if(NOT vf_fltk_minor OR vf_fltk_minor LESS 4)
    message(FATAL_ERROR "${VF_FLTK_SOURCE} is FLTK 1.${vf_fltk_minor}; the build needs FLTK 1.4 or later")
  endif()

  message(STATUS "FLTK (${vf_fltk_system}): building ${vf_fltk_src} (log: ${vf_fltk_root}/build.log)")
  set(vf_fltk_launchers "")
  foreach(lang C CXX)
    if(CMAKE_${lang}_COMPILER_LAUNCHER)
      list(APPEND vf_fltk_launchers -DCMAKE_${lang}_COMPILER_LAUNCHER=${CMAKE_${lang}_COMPILER_LAUNCHER})
    endif()
  endforeach()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${vf_fltk_src} -B ${vf_fltk_root}/build
            -G ${CMAKE_GENERATOR} -DCMAKE_INSTALL_PREFIX=${vf_fltk_prefix}
            ${vf_fltk_options} ${vf_fltk_launchers}
    OUTPUT_FILE ${vf_fltk_root}/configure.log ERROR_FILE ${vf_fltk_root}/configure.log
    RESULT_VARIABLE vf_fltk_rc)
  if(NOT vf_fltk_rc EQUAL 0)
    message(FATAL_ERROR "FLTK (${vf_fltk_system}): configure failed (see ${vf_fltk_root}/configure.log)")
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
    message(FATAL_ERROR "FLTK (${vf_fltk_system}): build failed (see ${vf_fltk_root}/build.log)")
  endif()

  # Install what the window uses: the public headers with the generated configuration header,
  # the core library and, on Linux, fltk-config. FLTK's own install target would also build
  # the image libraries.
  file(COPY ${vf_fltk_src}/FL DESTINATION ${vf_fltk_prefix}/include)
  file(COPY ${vf_fltk_root}/build/FL/fl_config.h DESTINATION ${vf_fltk_prefix}/include/FL)
  file(COPY ${vf_fltk_root}/build/lib/libfltk.a DESTINATION ${vf_fltk_prefix}/lib)
  if(NOT WIN32)
    file(COPY ${vf_fltk_root}/build/bin/fltk-config DESTINATION ${vf_fltk_prefix}/bin
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                          WORLD_READ WORLD_EXECUTE)
  endif()
  file(REMOVE_RECURSE ${vf_fltk_root}/build)
  if(NOT IS_DIRECTORY "${vf_fltk_source_abs}")
    file(REMOVE_RECURSE ${vf_fltk_root}/src)
  endif()
  file(WRITE ${vf_fltk_stamp} "${vf_fltk_stamp_text}")
  message(STATUS "FLTK (${vf_fltk_system}): installed in ${vf_fltk_prefix}")
endif()

set(VF_FLTK_FOUND TRUE)
if(NOT WIN32)
  set(VF_FLTK_CONFIG ${vf_fltk_prefix}/bin/fltk-config)
  return()
endif()

add_library(vf::fltk STATIC IMPORTED GLOBAL)
set_target_properties(vf::fltk PROPERTIES
  IMPORTED_LOCATION ${vf_fltk_prefix}/lib/libfltk.a
  # FLTK's headers are system headers for us: -Wall -Wextra stay about our code.
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${vf_fltk_prefix}/include
  INTERFACE_INCLUDE_DIRECTORIES ${vf_fltk_prefix}/include
  # GDI+ draws FLTK 1.4's antialiased lines and scaled images.
  INTERFACE_LINK_LIBRARIES "gdiplus;ole32;uuid;comctl32;ws2_32;gdi32;comdlg32;winspool")
