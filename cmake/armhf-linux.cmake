# Cross-compiles the POSIX build and its tests for 32-bit ARM (Debian armhf)
# and runs them under qemu-arm: the device's CPU with 32-bit pointers, strict
# alignment rules and unsigned plain char. Needs Debian's multiarch armhf
# packages (crossbuild-essential-armhf, libssl-dev:armhf, libgtest-dev:armhf,
# and libc6:armhf with libstdc++6:armhf to run against) and qemu-user;
# scripts/check-targets.sh installs them.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-linux.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Libraries and packages come from the armhf multiarch folders only; the
# headers they share with the build machine stay in /usr/include.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)

# Test programs, CTest and GoogleTest's test discovery run through qemu. They
# load the multiarch armhf C and C++ runtimes (/lib/ld-linux-armhf.so.3 and
# /usr/lib/arm-linux-gnueabihf), the same ones libssl3:armhf was built
# against. No "-L /usr/arm-linux-gnueabihf": that pairs the cross
# toolchain's dynamic loader with the multiarch C library, two different
# builds of glibc, and the first thread a test started crashed that way.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
