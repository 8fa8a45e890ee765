# Packages of the Windows build: a ZIP and an installer (NSIS), each holding
# varnoflex-update.exe (when the window was built) and varnoflex-cli.exe (installed by app/
# and cli/), an empty "data" folder for the maker's data set, and the sample data set in
# "examples" only, so that no package offers sample firmware to a real unit.
#   cmake --build build-mingw32 --target package
#     ->  varnoflex-update-<version>-win32.zip, varnoflex-update-<version>-win32.exe
# Include from the top-level CMakeLists.txt when WIN32, instead of the Linux packaging.
file(GLOB vf_sample_data_files
  ${PROJECT_SOURCE_DIR}/sample/*.ovk
  ${PROJECT_SOURCE_DIR}/sample/*.hex)
install(FILES ${vf_sample_data_files} DESTINATION examples)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/data-README.txt
        DESTINATION data RENAME README.txt)

set(CPACK_GENERATOR ZIP NSIS)
# The NSIS lines below go into the installer script as written.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME varnoflex-update)
set(CPACK_PACKAGE_VENDOR "Orvek")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for varnoflex flash units")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackWindowsOptions.cmake)

# Installer: program folder under Program Files, a Start-menu entry for the window that
# starts it in the data folder (where it reads its files), and an uninstaller.
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Varnoflex Update")
set(CPACK_NSIS_PACKAGE_NAME "Varnoflex Firmware Update")
set(CPACK_NSIS_DISPLAY_NAME "Varnoflex Firmware Update")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/resources/varnoflex-update.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/resources/varnoflex-update.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME varnoflex-update.exe)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # A 64-bit installer for the 64-bit programs (NSIS's amd64 stub), into the 64-bit
  # Program Files.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
endif()
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
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
