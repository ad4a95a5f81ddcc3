# Cross-compiles the Windows build with Debian's MinGW-w64 for 64-bit x86:
# taskclient.dll for desktop Windows, run under wine64 by
# scripts/check-windows.sh (use it with -DTASKCLIENT_TLS=bearssl: the device's
# secure sockets do not exist on desktop Windows).
#
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DTASKCLIENT_TLS=bearssl
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

# Prefer the variant with Win32 threads: it needs no threading DLL.
set(_taskclient_mingw x86_64-w64-mingw32)
if(EXISTS /usr/bin/${_taskclient_mingw}-g++-win32)
  set(CMAKE_C_COMPILER ${_taskclient_mingw}-gcc-win32)
  set(CMAKE_CXX_COMPILER ${_taskclient_mingw}-g++-win32)
else()
  set(CMAKE_C_COMPILER ${_taskclient_mingw}-gcc)
  set(CMAKE_CXX_COMPILER ${_taskclient_mingw}-g++)
endif()
set(CMAKE_RC_COMPILER ${_taskclient_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_taskclient_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
