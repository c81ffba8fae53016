# The one version of Varnet is the one in project() of the top-level
# CMakeLists.txt. This writes it into varnetversion.h for both programs and the
# Windows resource script.
#
# Included after project(): defines the interface target varnet_version.
# As a script, for tools that run outside a build (scripts/check-mingw.sh):
#   cmake -DOUTPUT_DIR=DIR -P cmake/VarnetVersion.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../CMakeLists.txt" project_line
       REGEX "^project\\(Varnet VERSION ")
  if(NOT project_line MATCHES "VERSION ([0-9]+(\\.[0-9]+)*)")
    message(FATAL_ERROR "no version in project() of CMakeLists.txt")
  endif()
  set(VARNET_VERSION "${CMAKE_MATCH_1}")
  if(NOT OUTPUT_DIR)
    message(FATAL_ERROR "usage: cmake -DOUTPUT_DIR=DIR -P ${CMAKE_SCRIPT_MODE_FILE}")
  endif()
else()
  set(VARNET_VERSION "${PROJECT_VERSION}")
  set(OUTPUT_DIR "${PROJECT_BINARY_DIR}/generated")
endif()

# "1.00" has the minor number 00; the resource script wants plain numbers.
string(REPLACE "." ";" version_parts "${VARNET_VERSION}")
list(GET version_parts 0 VARNET_VERSION_MAJOR)
list(LENGTH version_parts version_part_count)
set(VARNET_VERSION_MINOR 0)
if(version_part_count GREATER 1)
  list(GET version_parts 1 VARNET_VERSION_MINOR)
endif()
math(EXPR VARNET_VERSION_MAJOR "${VARNET_VERSION_MAJOR}")
math(EXPR VARNET_VERSION_MINOR "${VARNET_VERSION_MINOR}")

configure_file("${CMAKE_CURRENT_LIST_DIR}/varnetversion.h.in" "${OUTPUT_DIR}/varnetversion.h" @ONLY)

if(NOT CMAKE_SCRIPT_MODE_FILE)
  add_library(varnet_version INTERFACE)
  target_include_directories(varnet_version INTERFACE "${OUTPUT_DIR}")
endif()
