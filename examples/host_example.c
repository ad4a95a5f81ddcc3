/* What a device application does with taskclient: refresh the access token,
 * read it out of the response file, list the task lists, take the first
 * list's id, add a task to it, give it notes and a due date, mark it
 * completed, then list every task of the list page by page. Plain C; every
 * reply comes back in a file, GTaskReadReply takes its body out, and
 * GTaskReadField reads the values wanted from that body.
 *
 * usage: host_example REFRESH_TOKEN CLIENT_SECRET CLIENT_ID [TITLE] */
#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <uchar.h>

#include "taskclient.h"

#define REPLY_FILE "host_example_reply.txt"

/* Command-line text (the locale's encoding) as the library's 16-bit text. */
static int widen(const char *text, char16_t *out, size_t capacity) {
  mbstate_t state;
  size_t used = 0, n = 1;
  memset(&state, 0, sizeof state);
  while (used + 1 < capacity && (n = mbrtoc16(&out[used], text, strlen(text) + 1, &state)) != 0) {
    if (n == (size_t)-1 || n == (size_t)-2) return 0;
    if (n != (size_t)-3) text += n; /* -3: the second half of a surrogate pair, nothing consumed */
    ++used;
  }
  out[used] = 0;
  return n == 0;
}

/* 16-bit text as the locale's narrow text, for printing. */
static int narrow(const char16_t *text, char *out, size_t capacity) {
  mbstate_t state;
  char bytes[MB_LEN_MAX];
  size_t used = 0, n;
  memset(&state, 0, sizeof state);
  for (; *text; ++text) {
    if ((n = c16rtomb(bytes, *text, &state)) == (size_t)-1 || used + n >= capacity) return 0;
    memcpy(out + used, bytes, n);
    used += n;
  }
  out[used] = 0;
  return 1;
}

#define BODY_FILE "host_example_body.json"

/* Reads the response file with GTaskReadReply, which leaves the final reply's
 * body, framing removed, in BODY_FILE. Returns the HTTP status, or the
 * library's code when the file holds no whole reply. */
static int read_reply(void) {
  static const char16_t reply[] = u"" REPLY_FILE, body_file[] = u"" BODY_FILE;
  return (int)GTaskReadReply(reply, body_file);
}

/* The value at `path` in the last reply's body, read with GTaskReadField
 * (the body is never loaded whole, however long it is): as 16-bit text into
 * `value` (`capacity` units) and, where `text` is given, as narrow text. */
static int field(const char16_t *path, char16_t *value, size_t capacity, char *text, size_t textCapacity) {
  static const char16_t body_file[] = u"" BODY_FILE;
  if (GTaskReadField(body_file, path, value, (int32_t)capacity) != TC_EXCHANGE_COMPLETE) return 0;
  return !text || narrow(value, text, textCapacity);
}

/* The same, with the path given as narrow text. */
static int field_at(const char *path, char *text, size_t textCapacity) {
  char16_t path16[64], value[512];
  return widen(path, path16, 64) && field(path16, value, 512, text, textCapacity);
}

/* The result code must be 999 and the status 2xx; otherwise say which. */
static int check(const char *step, int32_t result) {
  int status = result == TC_EXCHANGE_COMPLETE ? read_reply() : 0;
  printf("%-8s result %d, HTTP status %d\n", step, (int)result, status);
  return result == TC_EXCHANGE_COMPLETE && status >= 200 && status < 300;
}

int main(int argc, char **argv) {
  char16_t target16[600];
  char target[600];
  char16_t refresh[1024], secret[256], client[256], title[512], token16[2100], list16[256], task16[256];
  char16_t page16[256];
  char token[2100], list[256], task[256], status[32], path[64], count[16];
  int pages, tasks = 0;
  long i, onPage;
  const char16_t *reply = u"" REPLY_FILE;
  setlocale(LC_ALL, "");
  if (argc < 4 || !widen(argv[1], refresh, 1024) || !widen(argv[2], secret, 256) || !widen(argv[3], client, 256) ||
      !widen(argc > 4 ? argv[4] : "Buy milk", title, 512)) {
    fprintf(stderr, "usage: %s REFRESH_TOKEN CLIENT_SECRET CLIENT_ID [TITLE]\n", argv[0]);
    return 2;
  }

  if (!check("refresh", GoogleTasksTokenRefreshSSL(refresh, secret, client, reply)) ||
      !field(u"access_token", token16, 2100, token, sizeof token))
    return 1;
  printf("         access token: %.12s...\n", token);

  if (!check("lists", GTaskListTasksSSL(token16, reply)) || !field(u"items.0.id", list16, 256, list, sizeof list))
    return 1;
  printf("         first list: %s\n", list);

  if (!check("add", GTaskTaskAddSSL(token16, list16, title, NULL, reply)) ||
      !field(u"id", task16, 256, task, sizeof task))
    return 1;
  printf("         added task %s\n", task);

  /* Any other request goes through GTaskRequestSSL: here, notes and a due
   * date for the new task (ids need no percent-encoding in a path). */
  snprintf(target, sizeof target, "/tasks/v1/lists/%s/tasks/%s", list, task);
  if (!widen(target, target16, 600) ||
      !check("notes", GTaskRequestSSL(token16, u"PATCH", target16,
                                      u"{\"notes\": \"From the example\", \"due\": \"2026-12-24T00:00:00.000Z\"}",
                                      reply)) ||
      !field_at("due", status, sizeof status))
    return 1;
  printf("         task %s is due %s\n", task, status);

  /* The reply is the task, now with status "completed". */
  if (!check("complete", GTaskTaskCompleteSSL(token16, list16, task16, reply)) ||
      !field_at("status", status, sizeof status))
    return 1;
  printf("         task %s is %s\n", task, status);

  /* Every task of the list: an empty page token asks for the first page;
   * each reply's nextPageToken asks for the next, until a reply has none. */
  page16[0] = 0;
  for (pages = 1;; ++pages) {
    if (!check("page", GTaskListTasksListPageSSL(token16, list16, page16, reply))) return 1;
    /* A page without tasks has no items at all. */
    onPage = field_at("items.#", count, sizeof count) ? strtol(count, NULL, 10) : 0;
    tasks += (int)onPage;
    for (i = 0; i < onPage; ++i) {
      snprintf(path, sizeof path, "items.%ld.id", i);
      if (!field_at(path, target, sizeof target) || strcmp(target, task) != 0) continue;
      snprintf(path, sizeof path, "items.%ld.status", i);
      if (field_at(path, status, sizeof status)) printf("         listed: task %s is %s\n", task, status);
    }
    if (!field(u"nextPageToken", page16, 256, NULL, 0)) break;
  }
  printf("         %d tasks on %d page%s\n", tasks, pages, pages == 1 ? "" : "s");
  remove(REPLY_FILE);
  remove(BODY_FILE);
  return 0;
}
