# Cross-compiles the Windows build with Debian's MinGW-w64 for 32-bit x86,
# standing in for the device's compiler: the Winsock platform layer of
# src/platform/wince, __stdcall exports and the .def file, with the device's
# pointer size. The resulting taskclient.dll loads on desktop Windows, where
# the secure-socket calls fail at run time; it exists so that the device
# build is compiled, linked and its export table checked on every change
# (scripts/check-targets.sh).
#
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

# Prefer the variant with Win32 threads: it needs no threading DLL.
set(_taskclient_mingw i686-w64-mingw32)
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
