# Cross-compiles the Windows build with Debian's MinGW-w64 for 64-bit x86:
# taskclient.dll for desktop Windows, run under wine64 by
# scripts/check-windows.sh (use it with -DTASKCLIENT_TLS=bearssl: the device's
# secure sockets do not exist on desktop Windows).
#
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DTASKCLIENT_TLS=bearssl
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(_taskclient_mingw x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
