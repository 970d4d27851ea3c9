# The header-only libraries of varnoltctl: CLI11 and nlohmann-json (Debian: libcli11-dev,
# nlohmann-json3-dev, in /usr/include) and cpp-httplib's single header (taken from Debian's source
# package by tools/fetch-httplib.sh into build/third_party/httplib). A cross build must not see the
# rest of the host's /usr/include, so every build takes copies of just those folders and files.
set(VARNOLT_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
foreach(header CLI/CLI.hpp nlohmann/json.hpp)
  string(REGEX REPLACE "/.*" "" headerFolder ${header})
  find_path(VARNOLT_${headerFolder}_ROOT ${header} NO_CMAKE_FIND_ROOT_PATH)
  if(NOT VARNOLT_${headerFolder}_ROOT)
    message(FATAL_ERROR "${header} not found: install CLI11 and nlohmann-json (tools/setup.sh; "
                        "MSYS2: mingw-w64-i686-cli11 mingw-w64-i686-nlohmann-json)")
  endif()
  file(COPY ${VARNOLT_${headerFolder}_ROOT}/${headerFolder} DESTINATION ${VARNOLT_THIRD_PARTY_INCLUDE})
endforeach()
find_path(VARNOLT_HTTPLIB_ROOT httplib.h PATHS ${CMAKE_SOURCE_DIR}/build/third_party/httplib
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(VARNOLT_HTTPLIB_ROOT httplib.h NO_CMAKE_FIND_ROOT_PATH)
if(NOT VARNOLT_HTTPLIB_ROOT)
  message(FATAL_ERROR "httplib.h not found: run tools/setup.sh, which takes it from Debian's "
                      "cpp-httplib source package (MSYS2: mingw-w64-i686-cpp-httplib)")
endif()
file(COPY ${VARNOLT_HTTPLIB_ROOT}/httplib.h DESTINATION ${VARNOLT_THIRD_PARTY_INCLUDE})

add_library(varnolt_third_party INTERFACE)
target_include_directories(varnolt_third_party SYSTEM INTERFACE ${VARNOLT_THIRD_PARTY_INCLUDE})
