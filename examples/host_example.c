/* What a device application does with taskclient: refresh the access token,
 * read it out of the response file, list the task lists, take the first
 * list's id, add a task to it, give it notes and a due date, mark it
 * completed, then list every task of the list page by page. Plain C; every
 * reply comes back in a file, and GTaskReadReply takes its body out.
 *
 * usage: host_example REFRESH_TOKEN CLIENT_SECRET CLIENT_ID [TITLE] */
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

#define BODY_FILE "host_example_body.json"

/* Reads the response file with GTaskReadReply, which leaves the final reply's
 * body, framing removed, in BODY_FILE, and loads that whole body, however
 * long, into `*body` (NUL-terminated; the caller frees it). Returns the HTTP
 * status, or the library's code when the file holds no whole reply. */
static int read_reply(char **body) {
  static const char16_t reply[] = u"" REPLY_FILE, body_file[] = u"" BODY_FILE;
  int32_t status = GTaskReadReply(reply, body_file);
  FILE *file = fopen(BODY_FILE, "rb");
  long size = 0;
  free(*body);
  *body = NULL;
  if (file && fseek(file, 0, SEEK_END) == 0 && (size = ftell(file)) >= 0 && fseek(file, 0, SEEK_SET) == 0 &&
      (*body = malloc((size_t)size + 1)) != NULL) {
    size = (long)fread(*body, 1, (size_t)size, file);
    (*body)[size] = 0;
  }
  if (file) fclose(file);
  return *body ? (int)status : 0;
}

/* Copies the string value of the first "name": "..." in `json` (the values
 * this program wants carry no escapes). */
static int json_string(const char *json, const char *name, char *out, size_t capacity) {
  char key[64];
  const char *p, *end;
  snprintf(key, sizeof key, "\"%s\"", name);
  if (!(p = strstr(json, key)) || !(p = strchr(p + strlen(key), '"')) || !(end = strchr(p + 1, '"'))) return 0;
  if ((size_t)(end - p - 1) >= capacity) return 0;
  memcpy(out, p + 1, (size_t)(end - p - 1));
  out[end - p - 1] = 0;
  return 1;
}

/* The result code must be 999 and the status 2xx; otherwise say which. */
static int check(const char *step, int32_t result, char **body) {
  int status = result == TC_EXCHANGE_COMPLETE ? read_reply(body) : 0;
  printf("%-8s result %d, HTTP status %d\n", step, (int)result, status);
  return result == TC_EXCHANGE_COMPLETE && status >= 200 && status < 300;
}

int main(int argc, char **argv) {
  char *body = NULL;
  char16_t target16[600];
  char target[600];
  char16_t refresh[1024], secret[256], client[256], title[512], token16[2100], list16[256], task16[256];
  char16_t page16[256];
  char token[2100], list[256], task[256], status[32], page[256];
  int pages, tasks = 0;
  const char16_t *reply = u"" REPLY_FILE;
  setlocale(LC_ALL, "");
  if (argc < 4 || !widen(argv[1], refresh, 1024) || !widen(argv[2], secret, 256) || !widen(argv[3], client, 256) ||
      !widen(argc > 4 ? argv[4] : "Buy milk", title, 512)) {
    fprintf(stderr, "usage: %s REFRESH_TOKEN CLIENT_SECRET CLIENT_ID [TITLE]\n", argv[0]);
    return 2;
  }

  if (!check("refresh", GoogleTasksTokenRefreshSSL(refresh, secret, client, reply), &body) ||
      !json_string(body, "access_token", token, sizeof token) || !widen(token, token16, 2100))
    return 1;
  printf("         access token: %.12s...\n", token);

  if (!check("lists", GTaskListTasksSSL(token16, reply), &body) ||
      !json_string(body, "id", list, sizeof list) || !widen(list, list16, 256))
    return 1;
  printf("         first list: %s\n", list);

  if (!check("add", GTaskTaskAddSSL(token16, list16, title, NULL, reply), &body) ||
      !json_string(body, "id", task, sizeof task) || !widen(task, task16, 256))
    return 1;
  printf("         added task %s\n", task);

  /* Any other request goes through GTaskRequestSSL: here, notes and a due
   * date for the new task (ids need no percent-encoding in a path). */
  snprintf(target, sizeof target, "/tasks/v1/lists/%s/tasks/%s", list, task);
  if (!widen(target, target16, 600) ||
      !check("notes", GTaskRequestSSL(token16, u"PATCH", target16,
                                      u"{\"notes\": \"From the example\", \"due\": \"2026-12-24T00:00:00.000Z\"}", reply),
             &body) ||
      !json_string(body, "due", status, sizeof status))
    return 1;
  printf("         task %s is due %s\n", task, status);

  /* The reply is the task, now with status "completed". */
  if (!check("complete", GTaskTaskCompleteSSL(token16, list16, task16, reply), &body) ||
      !json_string(body, "status", status, sizeof status))
    return 1;
  printf("         task %s is %s\n", task, status);

  /* Every task of the list: an empty page token asks for the first page;
   * each reply's nextPageToken asks for the next, until a reply has none. */
  page16[0] = 0;
  for (pages = 1;; ++pages) {
    const char *p;
    if (!check("page", GTaskListTasksListPageSSL(token16, list16, page16, reply), &body)) return 1;
    p = body;
    while ((p = strstr(p, "\"tasks#task\"")) != NULL) { /* one per task on the page */
      ++tasks;
      ++p;
    }
    if ((p = strstr(body, task)) != NULL && json_string(p, "status", status, sizeof status))
      printf("         listed: task %s is %s\n", task, status);
    if (!json_string(body, "nextPageToken", page, sizeof page)) break;
    if (!widen(page, page16, 256)) return 1;
  }
  printf("         %d tasks on %d page%s\n", tasks, pages, pages == 1 ? "" : "s");
  free(body);
  remove(REPLY_FILE);
  remove(BODY_FILE);
  return 0;
}
