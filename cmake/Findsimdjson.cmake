# simdjson::simdjson, for find_package(simdjson).
#
# simdjson's own CMake package when the target's is installed. Otherwise
# (an arm64 build on an amd64 machine: Debian's libsimdjson-dev installs for
# one architecture only) its header, which serves every architecture, and
# the target's run-time library by its versioned name.

find_package(simdjson CONFIG QUIET)
if(simdjson_FOUND)
  return()
endif()

find_path(SIMDJSON_INCLUDE_DIR simdjson.h)
find_library(SIMDJSON_LIBRARY NAMES simdjson libsimdjson.so.14)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(simdjson
  REQUIRED_VARS SIMDJSON_LIBRARY SIMDJSON_INCLUDE_DIR)
if(simdjson_FOUND AND NOT TARGET simdjson::simdjson)
  add_library(simdjson::simdjson UNKNOWN IMPORTED)
  set_target_properties(simdjson::simdjson PROPERTIES
    IMPORTED_LOCATION ${SIMDJSON_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${SIMDJSON_INCLUDE_DIR})
endif()
