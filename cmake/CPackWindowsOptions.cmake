# SPDX-License-Identifier: MIT
# Per-generator settings of the Windows packages (read by cpack for each generator): the zip
# unpacks into one folder named after the package; the installer has no such folder.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()

# The time every file in the zip gets (CPackReproducibleZip.cmake): SOURCE_DATE_EPOCH when
# the caller set it, else the time of the last commit; in a source tree without git history,
# the time of its CMakeLists.txt.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(CPACK_VF_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CPACK_VF_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE CPACK_VF_SOURCE_DATE_EPOCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE vf_git_rc)
  if(NOT vf_git_rc EQUAL 0 OR NOT CPACK_VF_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    file(TIMESTAMP "${CPACK_VF_SOURCE_DIR}/CMakeLists.txt" CPACK_VF_SOURCE_DATE_EPOCH "%s" UTC)
    message(STATUS "No git history: the zip's files are dated like CMakeLists.txt")
  endif()
endif()
