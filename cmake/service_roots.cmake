# The roots the service's certificates chain to, built into a BearSSL build
# that checks the server when no TASKCLIENT_TRUST_ANCHORS bundle is named:
# Google Trust Services' GTS Root R1 to R4, and GlobalSign Root CA, which
# cross-signs them for clients that predate them. They are taken at configure
# time from Debian's ca-certificates package, by name, and each must have the
# SHA-256 fingerprint (of its DER form) pinned here; nothing of them is kept
# in this repository. A missing file or another fingerprint stops the
# configure.
#
# Sets TASKCLIENT_SERVICE_ROOTS: the DER files, checked, in the build tree.
set(TASKCLIENT_CA_CERTIFICATES_DIR /usr/share/ca-certificates/mozilla CACHE PATH
  "Where Debian's ca-certificates package keeps its root certificates (<Name>.crt)")

# Name (the file's, without .crt) and SHA-256 of the certificate's DER form.
set(_taskclient_service_roots
  GTS_Root_R1        d947432abde7b7fa90fc2e6b59101b1280e0e1c7e4e40fa3c6887fff57a7f4cf
  GTS_Root_R2        8d25cd97229dbf70356bda4eb3cc734031e24cf00fafcfd32dc76eb5841c7ea8
  GTS_Root_R3        34d8a73ee208d9bcdb0d956520934b4e40e69482596e8b6f73c8426b010a6f48
  GTS_Root_R4        349dfa4058c5e263123b398ae795573c4e1313c83fe68f93556cd5e8031b3c7d
  GlobalSign_Root_CA ebd41040e4bb3ec742c9e381d31ef2a41a48b6685c96e7cef3c1df6cd4331c99)

# The package's files are PEM; openssl (which ca-certificates itself depends
# on) turns each into DER, whose fingerprint CMake checks.
find_program(TASKCLIENT_OPENSSL_COMMAND openssl)
if(NOT TASKCLIENT_OPENSSL_COMMAND)
  message(FATAL_ERROR "The built-in roots need the openssl command (Debian: scripts/install-deps.sh openssl "
    "ca-certificates); or name the roots with -DTASKCLIENT_TRUST_ANCHORS=/path/roots.pem")
endif()

set(_taskclient_roots_dir ${PROJECT_BINARY_DIR}/service_roots)
file(MAKE_DIRECTORY ${_taskclient_roots_dir})
set(TASKCLIENT_SERVICE_ROOTS "")
list(LENGTH _taskclient_service_roots _taskclient_count)
math(EXPR _taskclient_last "${_taskclient_count} - 1")
foreach(_taskclient_index RANGE 0 ${_taskclient_last} 2)
  math(EXPR _taskclient_next "${_taskclient_index} + 1")
  list(GET _taskclient_service_roots ${_taskclient_index} _taskclient_name)
  list(GET _taskclient_service_roots ${_taskclient_next} _taskclient_pinned)
  set(_taskclient_crt ${TASKCLIENT_CA_CERTIFICATES_DIR}/${_taskclient_name}.crt)
  set(_taskclient_der ${_taskclient_roots_dir}/${_taskclient_name}.der)
  if(NOT EXISTS ${_taskclient_crt})
    message(FATAL_ERROR "${_taskclient_crt} is missing: the built-in roots come from Debian's ca-certificates "
      "package (scripts/install-deps.sh ca-certificates). Without it, or if the package no longer carries "
      "${_taskclient_name}, name the roots with -DTASKCLIENT_TRUST_ANCHORS=/path/roots.pem")
  endif()
  file(REMOVE ${_taskclient_der})
  execute_process(COMMAND ${TASKCLIENT_OPENSSL_COMMAND} x509 -in ${_taskclient_crt} -outform DER -out ${_taskclient_der}
    RESULT_VARIABLE _taskclient_failed OUTPUT_QUIET ERROR_QUIET)
  if(_taskclient_failed OR NOT EXISTS ${_taskclient_der})
    message(FATAL_ERROR "${_taskclient_crt} holds no certificate openssl can read")
  endif()
  file(SHA256 ${_taskclient_der} _taskclient_found)
  if(NOT _taskclient_found STREQUAL _taskclient_pinned)
    message(FATAL_ERROR "${_taskclient_crt} is not the ${_taskclient_name} root the build expects: its SHA-256 "
      "is ${_taskclient_found}, the pinned one ${_taskclient_pinned}")
  endif()
  list(APPEND TASKCLIENT_SERVICE_ROOTS ${_taskclient_der})
  # A changed file is checked again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_taskclient_crt})
endforeach()
message(STATUS "taskclient: built-in roots from ${TASKCLIENT_CA_CERTIFICATES_DIR}, fingerprints checked")
