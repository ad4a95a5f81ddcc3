/* Includes the public header in one C or C++ language mode; compiled, not
 * run, by tests/header_modes.cmake for every mode, with the project's version
 * given as EXPECTED_MAJOR, EXPECTED_MINOR and EXPECTED_PATCH. */
#include "taskclient.h"

#if TASKCLIENT_VERSION_MAJOR != EXPECTED_MAJOR || TASKCLIENT_VERSION_MINOR != EXPECTED_MINOR || \
    TASKCLIENT_VERSION_PATCH != EXPECTED_PATCH
#error "the header's version macros differ from the project's version"
#endif

/* Text built from character literals, as a C89 or C++98 host must. */
static const tc_text16 token[] = {'t', 'o', 'k', 'e', 'n', 0};

/* Each declaration has the type a caller expects (taking the address links
 * nothing here). */
typedef int32_t(TASKCLIENT_CALL* four_texts)(const tc_text16*, const tc_text16*, const tc_text16*,
                                            const tc_text16*);
typedef int32_t(TASKCLIENT_CALL* two_texts)(const tc_text16*, const tc_text16*);

int header_modes_check(void);
int header_modes_check(void) {
  four_texts exchange = GoogleTasksGetTokenSSL;
  two_texts lists = GTaskListTasksSSL;
  return (exchange != 0) + (lists != 0) + (token[0] == 't') + (TC_EXCHANGE_COMPLETE == 999);
}
