# Writes the trust anchors of the PEM bundle PEM as C into OUT, with brssl
# (BRSSL), and the one function the BearSSL platform calls to reach them.
execute_process(COMMAND ${BRSSL} ta -q ${PEM} OUTPUT_VARIABLE anchors RESULT_VARIABLE failed)
if(failed OR NOT anchors MATCHES "TAs_NUM")
  message(FATAL_ERROR "brssl found no trust anchors in ${PEM}")
endif()
file(WRITE ${OUT} "/* Generated from ${PEM} by brssl ta; do not edit. */
#include <stddef.h>
#include <bearssl.h>
${anchors}
const br_x509_trust_anchor* taskclient_trust_anchors(size_t* count) {
  *count = TAs_NUM;
  return TAs;
}
")
