# SPDX-License-Identifier: MIT
# nlohmann/json (Debian's nlohmann-json3-dev, header-only) as the target
# nlohmann_json::nlohmann_json. The native build takes the package's CMake config. A MinGW
# cross build cannot put /usr/include on its include path (the C library's headers there
# are the host's), so it gets a folder in the build tree that holds only a link to the
# package's nlohmann/ headers; they include nothing but the C++ standard library.
if(TARGET nlohmann_json::nlohmann_json)
  return()
endif()
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3.10 REQUIRED)
  return()
endif()

find_path(VF_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp
          PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT VF_NLOHMANN_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found in /usr/include: install nlohmann-json3-dev")
endif()
set(vf_json_include ${CMAKE_BINARY_DIR}/nlohmann-json-include)
file(MAKE_DIRECTORY ${vf_json_include})
file(CREATE_LINK ${VF_NLOHMANN_JSON_INCLUDE}/nlohmann ${vf_json_include}/nlohmann SYMBOLIC)
add_library(vf_nlohmann_json INTERFACE)
target_include_directories(vf_nlohmann_json SYSTEM INTERFACE ${vf_json_include})
add_library(nlohmann_json::nlohmann_json ALIAS vf_nlohmann_json)
