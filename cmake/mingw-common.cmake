# What both Windows builds share: mingw-w64's posix-thread compilers for the triplet that the
# toolchain file names, every program linking its runtime statically so that it needs no DLL
# beyond Windows' own, and tests run under Wine in a prefix of the test run's own (never ~/.wine).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VARNOLT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNOLT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNOLT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNOLT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No link time in the PE header (it would be the only byte that differs between two builds of the
# same sources); ASLR, DEP and high-entropy ASLR are the linker's defaults (tests/app checks them).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# wine-run.sh takes the Wine loader of the word size that WINEARCH names (win32 or win64).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../tools/wine/wine-run.sh")
