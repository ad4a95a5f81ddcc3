# Cross-compiles the POSIX build and its tests for ARMv5TE (Debian armel,
# soft float, ARM state) and runs them under qemu-arm as an ARM926EJ-S, the
# class of CPU most Windows CE devices have: 32-bit pointers, strict alignment,
# unsigned plain char, no hardware floating point, no ldrex/strex; an
# instruction the CPU lacks stops the program with SIGILL. Needs Debian's
# crossbuild-essential-armel, libc6:armel, libstdc++6:armel,
# libgtest-dev:armel and qemu-user; scripts/check-targets.sh installs them.
#
# OpenSSL (the tests' in-process server and the tools use it, never the
# BearSSL library itself) comes from the folder scripts/armel-openssl.sh
# unpacks, named by TASKCLIENT_ARMEL_OPENSSL:
#
#   cmake -S . -B build-armel -DCMAKE_TOOLCHAIN_FILE=cmake/armel-linux.cmake -DTASKCLIENT_TLS=bearssl \
#     -DTASKCLIENT_ARMEL_OPENSSL="$(scripts/armel-openssl.sh build-armel/openssl)"
#
# Without it, OpenSSL is looked for in the armel multiarch folders
# (libssl-dev:armel installed), or the build goes without tests and tools.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabi)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
# Debian's armel compiler defaults to these already; said here so that no
# other default can move the build past what the device's CPU executes.
set(CMAKE_C_FLAGS_INIT "-march=armv5te -marm -mfloat-abi=soft")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm -mfloat-abi=soft")

# Libraries and packages come from the armel multiarch folders only; the
# headers they share with the build machine stay in /usr/include.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabi/pkgconfig:/usr/share/pkgconfig)

set(_taskclient_armel_libraries /usr/lib/arm-linux-gnueabi)
if(TASKCLIENT_ARMEL_OPENSSL)
  set(_taskclient_armel_libraries ${TASKCLIENT_ARMEL_OPENSSL}/lib/arm-linux-gnueabi)
  set(OPENSSL_INCLUDE_DIR ${TASKCLIENT_ARMEL_OPENSSL}/include CACHE PATH "OpenSSL's headers for armel")
  set(OPENSSL_SSL_LIBRARY ${_taskclient_armel_libraries}/libssl.so CACHE FILEPATH "libssl for armel")
  set(OPENSSL_CRYPTO_LIBRARY ${_taskclient_armel_libraries}/libcrypto.so CACHE FILEPATH "libcrypto for armel")
endif()

# Test programs, CTest and GoogleTest's test discovery run through qemu as an
# ARM926. They load the multiarch armel C and C++ runtimes
# (/lib/ld-linux.so.3 and /usr/lib/arm-linux-gnueabi, from libc6:armel), with
# the unpacked OpenSSL's folder added to the search path. No
# "-L /usr/arm-linux-gnueabi": that pairs the cross toolchain's dynamic
# loader with the multiarch C library, two different builds of glibc, and on
# armhf the first thread a test started crashed that way.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -cpu arm926 -E LD_LIBRARY_PATH=${_taskclient_armel_libraries})
