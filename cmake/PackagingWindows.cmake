# ZIP package of the Windows build: varnoflex-cli.exe (installed by cli/) with the sample
# data set beside it, ready to run from the unpacked folder.
#   cmake --build build-mingw32 --target package   ->  varnoflex-cli-<version>-win32.zip
# Include from the top-level CMakeLists.txt when WIN32, instead of the Linux packaging.
file(GLOB vf_sample_data_files
  ${PROJECT_SOURCE_DIR}/sample/*.ovk
  ${PROJECT_SOURCE_DIR}/sample/*.hex)
install(FILES ${vf_sample_data_files} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME varnoflex-cli)
set(CPACK_PACKAGE_VENDOR "Orvek")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command-line firmware updater for varnoflex flash units")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
