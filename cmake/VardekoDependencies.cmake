# Header-only nlohmann JSON comes from Debian's package. The MinGW build must not see
# the host's /usr/include, so it gets a folder that holds only the library's headers.
if(CMAKE_CROSSCOMPILING)
  find_path(VARDEKO_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(_shim "${CMAKE_BINARY_DIR}/host-headers")
  file(MAKE_DIRECTORY "${_shim}")
  file(CREATE_LINK "${VARDEKO_NLOHMANN_DIR}/nlohmann" "${_shim}/nlohmann" SYMBOLIC)
  add_library(nlohmann_json INTERFACE)
  target_include_directories(nlohmann_json SYSTEM INTERFACE "${_shim}")
  add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)
else()
  find_package(nlohmann_json 3.11 REQUIRED)
endif()

if(VARDEKO_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # No MinGW build of GoogleTest is packaged; Debian ships its sources for this.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

if(VARDEKO_BUILD_BENCHMARKS AND NOT CMAKE_CROSSCOMPILING)
  find_package(benchmark REQUIRED)
endif()
