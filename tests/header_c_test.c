/* The public header compiles as C, and its functions can be called from C. */
#include "taskclient.h"

#include <stddef.h>

/* Calls every exported function with a null response path; each must refuse
 * with TC_BAD_ARGUMENT before touching the network. Returns how many did. */
int taskclient_c_callers_refused(void) {
  static const tc_text16 text[] = {'x', 0};
  int refused = 0;
  refused += GoogleTasksGetTokenSSL(text, text, text, NULL) == TC_BAD_ARGUMENT;
  refused += GoogleTasksTokenRefreshSSL(text, text, text, NULL) == TC_BAD_ARGUMENT;
  refused += GTaskListTasksSSL(text, NULL) == TC_BAD_ARGUMENT;
  refused += GTaskListTasksListSSL(text, text, NULL) == TC_BAD_ARGUMENT;
  refused += GTaskTaskAddSSL(text, text, text, NULL, NULL) == TC_BAD_ARGUMENT;
  refused += GTaskTaskDeleteSSL(text, text, text, NULL) == TC_BAD_ARGUMENT;
  refused += GTaskRequestsSSL(text, text, NULL) == TC_BAD_ARGUMENT;
  refused += GTaskReadReplyAt(NULL, 0, text) == TC_BAD_ARGUMENT;
  return refused;
}
