# The device build: Windows CE on ARM, with a GCC-family cross compiler for
# the device (arm-mingw32ce, from CeGCC or a build like it) and, where the
# compiler does not bring them, the device SDK's headers and libraries.
#
# A template: nothing here can be right for every SDK, so the inputs are given
# on the first configure:
#
#   cmake -S . -B build-device -DCMAKE_TOOLCHAIN_FILE=cmake/wince-arm.cmake \
#     -DTASKCLIENT_WINCE_TOOLCHAIN_PREFIX=/opt/mingw32ce/bin/arm-mingw32ce- \
#     -DTASKCLIENT_WINCE_SDK_ROOT=/opt/wince-sdk/MyDevice
#   cmake --build build-device
#
# Inputs:
#   TASKCLIENT_WINCE_TOOLCHAIN_PREFIX  required: path and prefix of the compiler's
#                                      programs (<prefix>gcc, <prefix>g++,
#                                      <prefix>windres). It must accept C++98.
#   TASKCLIENT_WINCE_SDK_ROOT          optional: the SDK folder for the device's CPU,
#                                      with include/ (winsock2.h, windows.h and,
#                                      where the SDK has it, sslsock.h) and lib/
#                                      (ws2 and coredll); searched before the
#                                      compiler's own headers and libraries.
#   TASKCLIENT_WINCE_VERSION           _WIN32_WCE of the device's OS (default 0x600,
#                                      Windows CE 6.0).
#   TASKCLIENT_HAVE_SSLSOCK_H          1 (default): the secure-socket values come from
#                                      the SDK's <sslsock.h>; 0: from
#                                      src/platform/tls/secure_sockets_platform.cpp.
#   TASKCLIENT_WINSOCK_LIBRARY         the Winsock library to link (default ws2, the
#                                      device's WS2.dll).
#   TASKCLIENT_WINCE_DEFINES           the platform's macros (default
#                                      "-D_WIN32_WCE=<version> -DUNDER_CE -DARM -D_ARM_");
#                                      set it empty where the compiler predefines them.
#
# TASKCLIENT_TLS chooses the TLS: native (default, the secure-socket layer) or
# bearssl (BearSSL over Winsock, for any Windows CE version).
#
# The result is taskclient.dll, exporting what src/platform/dll/taskclient.def
# lists, linked with coredll and Winsock only. An SDK whose compiler is
# Microsoft's (cl for ARM) is not driven by this file: docs/device-build.md
# ("With Microsoft's compiler") lists the files and definitions for a Visual Studio
# project or an NMake file. scripts/check-wince.sh builds through this file
# with a stand-in compiler and checks the DLL's imports.

# CMake's Windows rules for GNU tools: a DLL, its import library, the .def.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR arm)
# Tells the project it builds for Windows CE (BearSSL's seeding, libraries).
set(TASKCLIENT_WINCE ON)

# The inputs reach CMake's own compiler checks too.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
  TASKCLIENT_WINCE_TOOLCHAIN_PREFIX TASKCLIENT_WINCE_SDK_ROOT TASKCLIENT_WINCE_VERSION TASKCLIENT_HAVE_SSLSOCK_H
  TASKCLIENT_WINCE_DEFINES)

if(NOT TASKCLIENT_WINCE_TOOLCHAIN_PREFIX)
  message(FATAL_ERROR "cmake/wince-arm.cmake: give -DTASKCLIENT_WINCE_TOOLCHAIN_PREFIX=<path/prefix-> "
                      "(the inputs are listed at the top of the file)")
endif()
if(NOT DEFINED TASKCLIENT_WINCE_VERSION)
  set(TASKCLIENT_WINCE_VERSION 0x600)
endif()
if(NOT DEFINED TASKCLIENT_HAVE_SSLSOCK_H)
  set(TASKCLIENT_HAVE_SSLSOCK_H 1)
endif()
set(TASKCLIENT_WINSOCK_LIBRARY ws2 CACHE STRING "The Winsock library to link")

# Every program and DLL links Windows CE's own library, not the desktop ones
# CMake's Windows rules give GNU tools (kernel32, user32, advapi32, ...):
# coredll holds the kernel, the C runtime and CeGenRandom; Winsock (ws2,
# TASKCLIENT_WINSOCK_LIBRARY) is linked by the project. Those rules set
# CMAKE_<LANG>_STANDARD_LIBRARIES_INIT after this file is read and store it in
# the cache unless an entry is there already: the entry is made here, so it
# wins (a plain variable would lose to the cache entry under the project's
# policy level).
foreach(_taskclient_lang C CXX)
  set(CMAKE_${_taskclient_lang}_STANDARD_LIBRARIES "-lcoredll" CACHE STRING
    "Libraries linked by every ${_taskclient_lang} program and DLL (Windows CE's coredll)" FORCE)
endforeach()

# CMake's compiler checks compile a static library rather than link a
# program: a program on Windows CE needs the start-up code of the SDK's C
# runtime, which the library does not (its DLL links coredll and Winsock).
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_C_COMPILER ${TASKCLIENT_WINCE_TOOLCHAIN_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${TASKCLIENT_WINCE_TOOLCHAIN_PREFIX}g++)
set(CMAKE_RC_COMPILER ${TASKCLIENT_WINCE_TOOLCHAIN_PREFIX}windres)

if(NOT DEFINED TASKCLIENT_WINCE_DEFINES)
  set(TASKCLIENT_WINCE_DEFINES "-D_WIN32_WCE=${TASKCLIENT_WINCE_VERSION} -DUNDER_CE -DARM -D_ARM_")
endif()
set(_taskclient_wince_flags "${TASKCLIENT_WINCE_DEFINES} -DTASKCLIENT_HAVE_SSLSOCK_H=${TASKCLIENT_HAVE_SSLSOCK_H}")
if(TASKCLIENT_WINCE_SDK_ROOT)
  string(APPEND _taskclient_wince_flags " -I${TASKCLIENT_WINCE_SDK_ROOT}/include")
  set(CMAKE_FIND_ROOT_PATH ${TASKCLIENT_WINCE_SDK_ROOT})
endif()
# CMake reads this file more than once in the same scope: the flags go in once.
if(NOT _taskclient_wince_flags_added)
  set(_taskclient_wince_flags_added ON)
  string(APPEND CMAKE_C_FLAGS_INIT " ${_taskclient_wince_flags}")
  string(APPEND CMAKE_CXX_FLAGS_INIT " ${_taskclient_wince_flags}")
  if(TASKCLIENT_WINCE_SDK_ROOT)
    foreach(_taskclient_kind EXE SHARED MODULE)
      string(APPEND CMAKE_${_taskclient_kind}_LINKER_FLAGS_INIT " -L${TASKCLIENT_WINCE_SDK_ROOT}/lib")
    endforeach()
  endif()
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
