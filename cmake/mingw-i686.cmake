# Cross-compiles the Windows build with Debian's MinGW-w64 for 32-bit x86,
# standing in for the device's compiler: the Winsock OS layer with the
# device's secure sockets or BearSSL, __stdcall exports and the .def file,
# with the device's pointer size. The resulting taskclient.dll loads on desktop Windows, where
# the secure-socket calls fail at run time; it exists so that the device
# build is compiled, linked and its export table checked on every change
# (scripts/check-targets.sh).
#
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_taskclient_mingw i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
