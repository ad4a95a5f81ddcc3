# Writes the trust anchors of the certificate files CERTIFICATES (PEM or DER,
# joined by '|') as C into OUT, with brssl (BRSSL), and the one function the
# BearSSL platform calls to reach them.
string(REPLACE "|" ";" files "${CERTIFICATES}")
execute_process(COMMAND ${BRSSL} ta -q ${files} OUTPUT_VARIABLE anchors RESULT_VARIABLE failed)
if(failed OR NOT anchors MATCHES "TAs_NUM")
  message(FATAL_ERROR "brssl found no trust anchors in ${files}")
endif()
set(names "")
foreach(file IN LISTS files)
  get_filename_component(name ${file} NAME)
  string(APPEND names " ${name}")
endforeach()
file(WRITE ${OUT} "/* Generated from${names} by brssl ta; do not edit. */
#include <stddef.h>
#include <bearssl.h>
${anchors}
const br_x509_trust_anchor* taskclient_trust_anchors(size_t* count) {
  *count = TAs_NUM;
  return TAs;
}
")
