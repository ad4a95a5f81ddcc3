/* Builds against the installed header and links the installed library. It
 * calls only with arguments the library refuses before any networking, so it
 * runs anywhere without sending a byte. */
#include <stdio.h>
#include <taskclient.h>

int main(void) {
  static const tc_text16 token[] = u"token";
  int32_t lists = GTaskListTasksSSL(token, NULL);
  int32_t add = GTaskTaskAddSSL(token, NULL, token, NULL, token);
  if (lists != TC_BAD_ARGUMENT || add != TC_BAD_ARGUMENT) {
    fprintf(stderr, "consumer: expected %d twice, got %d and %d\n", TC_BAD_ARGUMENT, (int)lists, (int)add);
    return 1;
  }
  printf("consumer: linked the installed taskclient; null arguments refused with %d\n", (int)lists);
  return 0;
}
