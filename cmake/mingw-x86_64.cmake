# 64-bit Windows: mingw-w64 x86_64, from the same sources. Doubles are in SSE2 registers there
# without asking.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VARNOLT_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
