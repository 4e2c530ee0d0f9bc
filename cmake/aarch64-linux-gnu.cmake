# Cross-building the Linux programs for arm64 (Raspberry Pi OS 64-bit is
# Debian for arm64) on Debian: the cross compiler (g++-aarch64-linux-gnu) and
# the arm64 libraries of Debian's multiarch (libsdl2-dev:arm64 and the rest,
# after dpkg --add-architecture arm64).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# The cross libc lives in /usr/aarch64-linux-gnu, the multiarch libraries in
# /usr/lib/aarch64-linux-gnu with their headers in /usr/include.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the arm64 .pc files only, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Test programs run under qemu-user: the arm64 loader and libraries of
# multiarch are where the programs look for them, so no prefix is given (the
# cross compiler's /usr/aarch64-linux-gnu as one would pair its loader with
# multiarch's libc.so.6 of another build: see scripts/arm64.sh).
find_program(TAVOLEN_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVOLEN_QEMU_AARCH64})
