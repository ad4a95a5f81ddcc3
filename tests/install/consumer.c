/* Builds against the installed header and links the installed library. It
 * first calls with arguments the library refuses before any networking; run
 * under scripts/with-local-service.sh (TASKCLIENT_LOCAL_CODE set), it also
 * exchanges the stand-in's authorization code as a host program would, and
 * reads the reply back with GTaskReadReply and a field of it with
 * GTaskReadField, and finds no second reply with GTaskReadReplyAt. */
#include <stdio.h>
#include <stdlib.h>
#include <taskclient.h>

int main(void) {
  static const tc_text16 token[] = u"token";
  const char *code = getenv("TASKCLIENT_LOCAL_CODE");
  tc_text16 code16[256];
  size_t i;
  int32_t lists = GTaskListTasksSSL(token, NULL);
  int32_t add = GTaskTaskAddSSL(token, NULL, token, NULL, token);
  if (lists != TC_BAD_ARGUMENT || add != TC_BAD_ARGUMENT) {
    fprintf(stderr, "consumer: expected %d twice, got %d and %d\n", TC_BAD_ARGUMENT, (int)lists, (int)add);
    return 1;
  }
  printf("consumer: linked taskclient %s; null arguments refused with %d\n", TASKCLIENT_VERSION_STRING, (int)lists);
  if (!code) return 0;
  for (i = 0; code[i] && i + 1 < sizeof code16 / sizeof code16[0]; ++i) code16[i] = (tc_text16)code[i];
  code16[i] = 0;
  {
    int32_t result = GoogleTasksGetTokenSSL(code16, u"secret", u"client", u"consumer-token.http");
    int32_t status = GTaskReadReply(u"consumer-token.http", u"consumer-token.json");
    tc_text16 type[16];
    int32_t field = GTaskReadField(u"consumer-token.json", u"token_type", type, 16);
    int32_t second = GTaskReadReplyAt(u"consumer-token.http", 1, u"consumer-token.json");
    remove("consumer-token.http");
    remove("consumer-token.json");
    if (result != TC_EXCHANGE_COMPLETE || status != 200) {
      fprintf(stderr, "consumer: token exchange gave %d, HTTP status %d\n", (int)result, (int)status);
      return 1;
    }
    if (field != TC_EXCHANGE_COMPLETE || type[0] != 'B' || type[6] != 0) {
      fprintf(stderr, "consumer: token_type gave %d\n", (int)field);
      return 1;
    }
    if (second != TC_NO_SUCH_REPLY) {
      fprintf(stderr, "consumer: a second reply gave %d, expected %d\n", (int)second, TC_NO_SUCH_REPLY);
      return 1;
    }
    printf("consumer: token exchange with the local service: %d, HTTP status %d\n", (int)result, (int)status);
  }
  return 0;
}
