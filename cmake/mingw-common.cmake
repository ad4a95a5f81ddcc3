# What the MinGW-w64 toolchain files share: the compilers for the target
# triple in _taskclient_mingw, preferring the variant with Win32 threads (it
# needs no threading DLL), and a search confined to the target's tree.
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
