# The library's source files and compile definitions, kept in one place:
# CMakeLists.txt builds from them, and cmake/msvc_sources.cmake writes them
# into README.md for a build with Microsoft's compiler (the test
# readme_msvc_sources fails when the two differ). Paths are relative to the
# project's root.

# The core: the same on every platform.
set(TASKCLIENT_CORE_SOURCES
  src/exchange/arguments.cpp
  src/exchange/exchange.cpp
  src/readers/field_reader.cpp
  src/readers/reply_reader.cpp
  src/exchange/reply_scanner.cpp
  src/exchange/request.cpp
  src/exchange/service.cpp
  src/text/escape.cpp
  src/text/text.cpp
  src/text/utf8.cpp
  src/tokens/tokens.cpp
  src/tasks/tasks.cpp
  src/tasks/requests.cpp)

# The exported C functions: in the shared library only.
set(TASKCLIENT_EXPORT_SOURCES src/exports.cpp src/api_endpoint.cpp)
# The DLL's exports by name and ordinal (Windows).
set(TASKCLIENT_DEF_FILE src/platform/dll/taskclient.def)

# The folders the library's sources include from, and what every one of its
# sources is compiled with (TASKCLIENT_VERIFY_SERVER=1 too, in a build that
# checks the server's certificate).
set(TASKCLIENT_INCLUDE_DIRECTORIES include src)
set(TASKCLIENT_LIBRARY_DEFINITIONS TASKCLIENT_BUILDING)
set(TASKCLIENT_VERIFY_DEFINITIONS TASKCLIENT_VERIFY_SERVER=1)

# BearSSL's settings on Windows CE: its CryptoAPI seeder (CryptAcquireContextA
# with CRYPT_SILENT) and its time source (GetSystemTimeAsFileTime) call what
# the device does not have; the platform seeds the generator with CeGenRandom
# and gives the certificate checker the device's clock.
set(TASKCLIENT_BEARSSL_WINCE_DEFINITIONS BR_USE_WIN32_RAND=0 BR_USE_WIN32_TIME=0)

# taskclient_platform_sources(WINDOWS TLS VERIFY): the platform layer's
# sources and the definitions the library and its tests share, for Windows
# (true) or POSIX, the TLS (openssl, bearssl or native) and certificate
# checking (true or false). Sets TASKCLIENT_PLATFORM_SOURCES and
# TASKCLIENT_PLATFORM_DEFINITIONS.
function(taskclient_platform_sources windows tls verify)
  if(windows)
    set(sources src/platform/os/winsock_io.cpp src/platform/system_io_platform.cpp src/platform/dll/dll_main.cpp)
  else()
    set(sources src/platform/os/posix_io.cpp src/platform/system_io_platform.cpp)
  endif()
  set(definitions)
  if(tls STREQUAL "openssl")
    list(APPEND sources src/platform/tls/openssl_platform.cpp)
  elseif(tls STREQUAL "native")
    list(APPEND sources src/platform/tls/secure_sockets_platform.cpp)
  else()
    list(APPEND sources src/platform/tls/bearssl_platform.cpp src/platform/tls/bearssl_certificates.cpp)
    # The session and its record buffer live in the storage each call lends
    # the platform (the platform checks the size at compile time): sizeof the
    # session rounded up, 21,648 bytes on 64-bit targets, less on 32-bit ones;
    # the certificate checker's state joins it in a build that checks.
    if(verify)
      set(storage 25600)
    else()
      set(storage 21760)
    endif()
    list(APPEND definitions TASKCLIENT_TLS_BEARSSL TASKCLIENT_CONNECTION_STORAGE=${storage})
  endif()
  set(TASKCLIENT_PLATFORM_SOURCES ${sources} PARENT_SCOPE)
  set(TASKCLIENT_PLATFORM_DEFINITIONS ${definitions} PARENT_SCOPE)
endfunction()
