# SPDX-License-Identifier: MIT
# Run by cpack after it made the packages: the zip is rewritten so that the same files always
# give the same bytes (reproducible_zip.py), dated CPACK_VF_SOURCE_DATE_EPOCH (see
# CPackWindowsOptions.cmake). The installer needs no such step: NSIS stores no file times
# (SetDateSave off in cmake/PackagingWindows.cmake).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.zip$")
    continue()
  endif()
  if(NOT CPACK_VF_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a number: ${CPACK_VF_SOURCE_DATE_EPOCH}")
  endif()
  execute_process(COMMAND "${CPACK_VF_PYTHON}" "${CPACK_VF_ZIP_SCRIPT}"
                          "${package}" "${CPACK_VF_SOURCE_DATE_EPOCH}"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Could not rewrite ${package} reproducibly")
  endif()
endforeach()
