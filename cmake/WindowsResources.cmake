# SPDX-License-Identifier: MIT
# Resources every Windows program of the project carries, so that it looks and behaves like a
# native one: an application manifest (supported Windows versions, the themed common
# controls, the user's own rights) and version information (Explorer's Details tab, Task
# Manager, installers and support staff read the version there). varnoflex-cli.exe also gets
# the program icon; the window's icons are in app/resources/varnoflex-update.rc.
# Included from the top-level CMakeLists.txt after the programs' folders (WIN32 only).

set(VF_COMPANY "The varnoflex-update developers")
set(VF_PRODUCT "Varnoflex Firmware Update")
set(VF_COPYRIGHT "© 2026 The varnoflex-update developers, MIT License")

# vf_windows_resources(TARGET DESCRIPTION ASSEMBLY_NAME [ICON file.ico])
function(vf_windows_resources target description assembly_name)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "ICON" "")
  if(NOT TARGET ${target})
    return()
  endif()
  set(VF_RC_FILE_NAME ${target}.exe)
  set(VF_RC_INTERNAL_NAME ${target})
  set(VF_RC_DESCRIPTION "${description}")
  set(VF_RC_ASSEMBLY_NAME "${assembly_name}")
  set(VF_RC_COMPANY "${VF_COMPANY}")
  set(VF_RC_PRODUCT "${VF_PRODUCT}")
  set(VF_RC_COPYRIGHT "${VF_COPYRIGHT}")
  set(tweak "${PROJECT_VERSION_TWEAK}")
  if(tweak STREQUAL "")
    set(tweak 0)
  endif()
  set(v ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} ${tweak})
  list(JOIN v "," VF_RC_VERSION_COMMAS)
  list(JOIN v "." VF_RC_VERSION_DOTS)
  set(VF_RC_EXTRA "")
  if(arg_ICON)
    # 101: the icon Explorer shows for the file (the lowest-numbered one).
    set(VF_RC_EXTRA "101 ICON \"${arg_ICON}\"")
  endif()

  set(out ${PROJECT_BINARY_DIR}/windows-resources)
  set(VF_RC_MANIFEST ${out}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest.in
                 ${VF_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in
                 ${out}/${target}-program.rc @ONLY)
  target_sources(${target} PRIVATE ${out}/${target}-program.rc)
  # windres does not see the files an .rc pulls in: rebuild when they change.
  set(depends ${VF_RC_MANIFEST})
  if(arg_ICON)
    list(APPEND depends ${arg_ICON})
  endif()
  set_source_files_properties(${out}/${target}-program.rc TARGET_DIRECTORY ${target}
                              PROPERTIES OBJECT_DEPENDS "${depends}")
endfunction()

vf_windows_resources(varnoflex-update "Varnoflex Firmware Update" "Varnoflex.Update.Window")
vf_windows_resources(varnoflex-cli "Varnoflex Firmware Update (command line)"
                     "Varnoflex.Update.CommandLine"
                     ICON ${PROJECT_SOURCE_DIR}/app/resources/varnoflex-update.ico)
