# 64-bit Arm Linux (arm64: a Raspberry Pi or a similar board at the bench), cross-built with
# Debian's aarch64 compilers (g++-aarch64-linux-gnu). Libraries and headers come the Debian way,
# through multiarch: an arm64 -dev package (apt-get install libfoo-dev:arm64) puts its files in
# /usr/lib/aarch64-linux-gnu and /usr/include, where CMake looks for them by the library
# architecture below; pkg-config, where a build needs it, is aarch64-linux-gnu-pkg-config. The
# tests run under qemu-user on the arm64 libraries installed through multiarch (libc6:arm64,
# libstdc++6:arm64: those the package's dependencies are computed against), not on the cross
# toolchain's own runtime in /usr/aarch64-linux-gnu, where Debian 12's qemu-user hangs in a new
# thread's start.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

find_program(VARNOLT_AARCH64_PKG_CONFIG aarch64-linux-gnu-pkg-config)
if(VARNOLT_AARCH64_PKG_CONFIG)
  set(PKG_CONFIG_EXECUTABLE ${VARNOLT_AARCH64_PKG_CONFIG} CACHE FILEPATH "pkg-config for arm64")
else()
  # The host's pkg-config, reading only the arm64 packages' files (multiarch).
  set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
endif()

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64 -L /)
