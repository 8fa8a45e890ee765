# SPDX-License-Identifier: MIT
# Packages of the Windows build: a ZIP and an installer (NSIS), each holding
# varnoflex-update.exe (when the window was built) and varnoflex-cli.exe (installed by app/
# and cli/), an empty "data" folder for the maker's data set, the sample data set in
# "examples" only (so that no package offers sample firmware to a real unit), the licence
# and the licences of what the programs bundle.
#   cmake --build build-mingw32 --target package
#     ->  varnoflex-update-<version>-win32.zip, varnoflex-update-<version>-win32.exe
# Both are reproducible: the same commit gives the same bytes (file times from
# SOURCE_DATE_EPOCH or the last commit, no time stamps in the programs or the installer).
# Include from the top-level CMakeLists.txt when WIN32, instead of the Linux packaging.
set(VF_HOMEPAGE_URL "https://varnoflex.invalid/update/")
set(VF_HELP_URL "https://varnoflex.invalid/update/#troubleshooting")
set(VF_CONTACT "update@varnoflex.invalid")

file(GLOB vf_sample_data_files
  ${PROJECT_SOURCE_DIR}/sample/*.ovk
  ${PROJECT_SOURCE_DIR}/sample/*.hex)
install(FILES ${vf_sample_data_files} DESTINATION examples)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/data-README.txt
        DESTINATION data RENAME README.txt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/THIRD-PARTY.txt DESTINATION .)

# The window links FLTK statically (LGPL with FLTK's static-linking exception): its licence
# text goes with the programs, taken from the FLTK source the build used.
if(TARGET varnoflex-update)
  set(vf_fltk_licence_dir ${PROJECT_BINARY_DIR}/fltk-licence)
  file(REMOVE_RECURSE ${vf_fltk_licence_dir})
  if(IS_DIRECTORY "${VF_FLTK_SOURCE}")
    file(COPY "${VF_FLTK_SOURCE}/COPYING" DESTINATION ${vf_fltk_licence_dir})
  else()
    file(ARCHIVE_EXTRACT INPUT "${VF_FLTK_SOURCE}" DESTINATION ${vf_fltk_licence_dir}
         PATTERNS "*COPYING")
  endif()
  # The top folder's COPYING (the release tarball has one top folder; the tree none).
  file(GLOB vf_fltk_copying ${vf_fltk_licence_dir}/COPYING ${vf_fltk_licence_dir}/*/COPYING)
  if(NOT vf_fltk_copying)
    message(FATAL_ERROR "No COPYING in the FLTK source ${VF_FLTK_SOURCE}: the Windows packages must carry FLTK's licence")
  endif()
  list(GET vf_fltk_copying 0 vf_fltk_copying)
  install(FILES ${vf_fltk_copying} DESTINATION licenses RENAME FLTK.txt)
endif()

set(CPACK_GENERATOR ZIP NSIS)
# The NSIS lines below go into the installer script as written.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME varnoflex-update)
set(CPACK_PACKAGE_VENDOR "The varnoflex-update developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for varnoflex flash units")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackWindowsOptions.cmake)
# The zip is rewritten after cpack made it, so that a commit always gives the same bytes.
find_program(VF_PYTHON3 python3 REQUIRED)
set(CPACK_VF_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_VF_PYTHON ${VF_PYTHON3})
set(CPACK_VF_ZIP_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/reproducible_zip.py)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/CPackReproducibleZip.cmake)

# Installer: program folder under Program Files, a Start-menu entry for the window that
# starts it in the data folder (where it reads its files), an uninstaller, and one entry in
# "Apps & features" (the same key for every version, so that a new version replaces the
# old one's entry).
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Varnoflex Update")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY varnoflex-update)
set(CPACK_NSIS_PACKAGE_NAME "Varnoflex Firmware Update")
set(CPACK_NSIS_DISPLAY_NAME "Varnoflex Firmware Update")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/resources/varnoflex-update.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/resources/varnoflex-update.ico)
if(TARGET varnoflex-update)
  set(CPACK_NSIS_INSTALLED_ICON_NAME varnoflex-update.exe)
else()
  set(CPACK_NSIS_INSTALLED_ICON_NAME varnoflex-cli.exe)
endif()
set(CPACK_NSIS_URL_INFO_ABOUT ${VF_HOMEPAGE_URL})
set(CPACK_NSIS_HELP_LINK ${VF_HELP_URL})
set(CPACK_NSIS_CONTACT ${VF_CONTACT})
set(vf_uninstall_key "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}")

set(vf_version_4 ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
set(CPACK_NSIS_DEFINES "")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # A 64-bit installer for the 64-bit programs (NSIS's amd64 stub), into the 64-bit
  # Program Files.
  string(APPEND CPACK_NSIS_DEFINES "  Target amd64-unicode\n")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
endif()
string(APPEND CPACK_NSIS_DEFINES "
  ; No file times in the installer: the same files give the same installer bytes.
  SetDateSave off
  !include \"FileFunc.nsh\"
  ; The installer's own version information (its Details tab).
  VIProductVersion \"${vf_version_4}\"
  VIFileVersion \"${vf_version_4}\"
  VIAddVersionKey /LANG=1033 \"ProductName\" \"Varnoflex Firmware Update\"
  VIAddVersionKey /LANG=1033 \"ProductVersion\" \"${PROJECT_VERSION}\"
  VIAddVersionKey /LANG=1033 \"FileVersion\" \"${PROJECT_VERSION}\"
  VIAddVersionKey /LANG=1033 \"FileDescription\" \"Varnoflex Firmware Update Setup\"
  VIAddVersionKey /LANG=1033 \"CompanyName\" \"${CPACK_PACKAGE_VENDOR}\"
  VIAddVersionKey /LANG=1033 \"LegalCopyright\" \"${VF_COPYRIGHT}\"
")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# What "Apps & features" reads beyond CPack's own entries: the size of the installed files
# (KiB) and the folder. CPack writes NoModify and NoRepair as strings; Windows reads them
# as numbers (otherwise it offers Modify and Repair buttons that do nothing).
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  \${GetSize} \"$INSTDIR\" \"/S=0K\" $0 $1 $2
  IntFmt $0 \"0x%08X\" $0
  WriteRegDWORD SHCTX \"${vf_uninstall_key}\" \"EstimatedSize\" \"$0\"
  WriteRegStr SHCTX \"${vf_uninstall_key}\" \"InstallLocation\" \"$INSTDIR\"
  WriteRegDWORD SHCTX \"${vf_uninstall_key}\" \"NoModify\" 1
  WriteRegDWORD SHCTX \"${vf_uninstall_key}\" \"NoRepair\" 1
")
if(TARGET varnoflex-update)
  # CreateShortCut takes the output folder as the shortcut's working folder.
  set(CPACK_NSIS_CREATE_ICONS_EXTRA [=[
  SetOutPath "$INSTDIR\data"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Varnoflex Firmware Update.lnk" "$INSTDIR\varnoflex-update.exe"
  SetOutPath "$INSTDIR"
]=])
  set(CPACK_NSIS_DELETE_ICONS_EXTRA [=[
  Delete "$SMPROGRAMS\$MUI_TEMP\Varnoflex Firmware Update.lnk"
]=])
endif()
include(CPack)
