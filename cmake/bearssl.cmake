# BearSSL for TASKCLIENT_TLS=bearssl, built from source with the target's own
# compiler. The source is never part of this repository: it is Debian's
# source package bearssl 0.6+dfsg.1-3, fetched at configure time and checked
# against pinned checksums by scripts/fetch-bearssl.sh, or an unpacked tree
# named by TASKCLIENT_BEARSSL_SOURCE (a folder with inc/ and src/).
#
# Gives the static library taskclient_bearssl (every file of BearSSL's src/;
# the link keeps what the library calls). The bytes each call lends the
# platform for the session are in cmake/sources.cmake.
set(TASKCLIENT_BEARSSL_SOURCE "" CACHE PATH
  "An unpacked BearSSL 0.6 source tree; empty: fetched by scripts/fetch-bearssl.sh at configure time")

if(TASKCLIENT_BEARSSL_SOURCE)
  set(_taskclient_bearssl_dir ${TASKCLIENT_BEARSSL_SOURCE})
else()
  execute_process(
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-bearssl.sh ${PROJECT_BINARY_DIR}/_deps/bearssl
    OUTPUT_VARIABLE _taskclient_bearssl_dir OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _taskclient_bearssl_fetched)
  if(NOT _taskclient_bearssl_fetched EQUAL 0)
    message(FATAL_ERROR "scripts/fetch-bearssl.sh failed; give -DTASKCLIENT_BEARSSL_SOURCE=<unpacked BearSSL 0.6>")
  endif()
endif()
if(NOT EXISTS ${_taskclient_bearssl_dir}/inc/bearssl.h OR NOT EXISTS ${_taskclient_bearssl_dir}/src/inner.h)
  message(FATAL_ERROR "${_taskclient_bearssl_dir} is not a BearSSL source tree (inc/bearssl.h, src/inner.h)")
endif()
message(STATUS "taskclient: BearSSL from ${_taskclient_bearssl_dir}")

file(GLOB_RECURSE _taskclient_bearssl_sources CONFIGURE_DEPENDS ${_taskclient_bearssl_dir}/src/*.c)
add_library(taskclient_bearssl STATIC ${_taskclient_bearssl_sources})
# BearSSL's own code compiles with its own habits: none of the library's
# warning options apply, and its headers count as system headers for ours.
set_target_properties(taskclient_bearssl PROPERTIES
  POSITION_INDEPENDENT_CODE ON C_VISIBILITY_PRESET hidden C_STANDARD 99)
target_include_directories(taskclient_bearssl SYSTEM PUBLIC ${_taskclient_bearssl_dir}/inc)
target_include_directories(taskclient_bearssl PRIVATE ${_taskclient_bearssl_dir}/src)
if(TASKCLIENT_WINCE)
  # Windows CE: BearSSL's CryptoAPI seeder and its desktop time source are
  # left out (cmake/sources.cmake says why).
  target_compile_definitions(taskclient_bearssl PRIVATE ${TASKCLIENT_BEARSSL_WINCE_DEFINITIONS})
elseif(WIN32)
  # CryptGenRandom, which seeds BearSSL's generator on Windows.
  target_link_libraries(taskclient_bearssl PUBLIC advapi32)
endif()

# Certificate checking (TASKCLIENT_VERIFY_SERVER): the chain is checked
# against trust anchors compiled into the library: the roots of a PEM bundle
# named at configure time, or without one the service's own roots
# (cmake/service_roots.cmake). BearSSL's own tool, brssl, built here for the
# build machine, writes them as C at build time.
if(TASKCLIENT_VERIFY_SERVER)
  set(TASKCLIENT_TRUST_ANCHORS "" CACHE FILEPATH
    "PEM bundle of the roots the BearSSL path trusts (with TASKCLIENT_VERIFY_SERVER); empty: the service's own roots")
  if(TASKCLIENT_TRUST_ANCHORS)
    if(NOT EXISTS ${TASKCLIENT_TRUST_ANCHORS})
      message(FATAL_ERROR "TASKCLIENT_TRUST_ANCHORS names ${TASKCLIENT_TRUST_ANCHORS}, which does not exist")
    endif()
    set(_taskclient_anchor_files ${TASKCLIENT_TRUST_ANCHORS})
    set(_taskclient_anchors_from ${TASKCLIENT_TRUST_ANCHORS})
  else()
    include(${CMAKE_CURRENT_LIST_DIR}/service_roots.cmake)
    set(_taskclient_anchor_files ${TASKCLIENT_SERVICE_ROOTS})
    set(_taskclient_anchors_from "the service's roots")
  endif()
  # One argument for the script: the files joined by '|'.
  string(REPLACE ";" "|" _taskclient_anchor_argument "${_taskclient_anchor_files}")
  file(GLOB _taskclient_brssl_sources ${_taskclient_bearssl_dir}/tools/*.c)
  if(NOT CMAKE_CROSSCOMPILING)
    add_executable(taskclient_brssl ${_taskclient_brssl_sources})
    set_target_properties(taskclient_brssl PROPERTIES C_STANDARD 99)
    target_link_libraries(taskclient_brssl PRIVATE taskclient_bearssl)
    set(_taskclient_brssl $<TARGET_FILE:taskclient_brssl>)
    set(_taskclient_brssl_depends taskclient_brssl)
  else()
    # A cross build runs brssl on the build machine: compiled with its own C
    # compiler from the same source.
    find_program(TASKCLIENT_HOST_CC NAMES cc gcc REQUIRED)
    set(_taskclient_brssl ${CMAKE_CURRENT_BINARY_DIR}/brssl-host)
    add_custom_command(OUTPUT ${_taskclient_brssl}
      COMMAND ${TASKCLIENT_HOST_CC} -O1 -w -I${_taskclient_bearssl_dir}/inc -I${_taskclient_bearssl_dir}/src
              ${_taskclient_brssl_sources} ${_taskclient_bearssl_sources} -o ${_taskclient_brssl}
      COMMENT "brssl for the build machine")
    set(_taskclient_brssl_depends ${_taskclient_brssl})
  endif()
  set(_taskclient_anchors_c ${CMAKE_CURRENT_BINARY_DIR}/trust_anchors.c)
  add_custom_command(OUTPUT ${_taskclient_anchors_c}
    COMMAND ${CMAKE_COMMAND} -DBRSSL=${_taskclient_brssl} "-DCERTIFICATES=${_taskclient_anchor_argument}"
            -DOUT=${_taskclient_anchors_c} -P ${PROJECT_SOURCE_DIR}/cmake/trust_anchors.cmake
    DEPENDS ${_taskclient_brssl_depends} ${_taskclient_anchor_files} ${PROJECT_SOURCE_DIR}/cmake/trust_anchors.cmake
    VERBATIM
    COMMENT "Trust anchors from ${_taskclient_anchors_from}")
  add_library(taskclient_trust_anchors STATIC ${_taskclient_anchors_c})
  set_target_properties(taskclient_trust_anchors PROPERTIES
    POSITION_INDEPENDENT_CODE ON C_VISIBILITY_PRESET hidden C_STANDARD 99)
  target_compile_options(taskclient_trust_anchors PRIVATE ${TASKCLIENT_WARNINGS})
  target_link_libraries(taskclient_trust_anchors PUBLIC taskclient_bearssl)
endif()
