# 32-bit Windows (the product): mingw-w64 i686.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VARNOLT_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Doubles in SSE2 registers, one rounding per operation as on x86-64: with the x87 unit's 80-bit
# registers the tables and readouts would differ from the native build in the last bit.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
