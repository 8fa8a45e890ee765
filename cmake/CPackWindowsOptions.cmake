# Per-generator settings of the Windows packages (read by cpack for each generator): the zip
# unpacks into one folder named after the package; the installer has no such folder.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
