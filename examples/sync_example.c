/* An incremental sync as a device application does it, in two calls after
 * sign-in: GTaskRequestsSSL sends every list's changes since the last sync
 * in one exchange (GETs, pipelined over one connection), then the device's
 * own changes in a second one (POST, PATCH, DELETE). Each reply is read back
 * from the one response file with GTaskReadReplyAt and its values with
 * GTaskReadField. Plain C.
 *
 * What the device remembers between runs is in STATE_FILE (three lines):
 * the time of the last sync (the service's Date of its first reply, as
 * RFC 3339), the task the last run added and the task it completed, each as
 * "LIST TASK" or "-". Each run's own changes, so that several runs in a row
 * show every kind of change: it adds a task titled TITLE to the first list,
 * completes the task the last run added, and deletes the one it completed.
 *
 * usage: sync_example REFRESH_TOKEN CLIENT_SECRET CLIENT_ID [TITLE [STATE_FILE]]
 *
 * Exit status: 0 when every step succeeded, 1 when one failed (the step
 * is named on standard output), 2 for a usage error. */
#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <uchar.h>

#include "taskclient.h"

#define REQUESTS_FILE "sync_example_requests.txt"
#define REPLY_FILE "sync_example_reply.txt"
#define BODY_FILE "sync_example_body.json"
#define MAX_LISTS 100
#define ID_CAPACITY 256
#define SHOWN_PER_LIST 5 /* changed tasks printed per list; the rest are counted */

static const char16_t kRequests[] = u"" REQUESTS_FILE, kReply[] = u"" REPLY_FILE, kBody[] = u"" BODY_FILE;

/* Command-line text (the locale's encoding) as the library's 16-bit text. */
static int widen(const char *text, char16_t *out, size_t capacity) {
  mbstate_t state;
  size_t used = 0, n = 1;
  memset(&state, 0, sizeof state);
  while (used + 1 < capacity && (n = mbrtoc16(&out[used], text, strlen(text) + 1, &state)) != 0) {
    if (n == (size_t)-1 || n == (size_t)-2) return 0;
    if (n != (size_t)-3) text += n;
    ++used;
  }
  out[used] = 0;
  return n == 0;
}

/* 16-bit text as the locale's narrow text, for printing and for the
 * requests file (run in a UTF-8 locale, as the demo does). */
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

/* The value at `path` (narrow) of the body GTaskReadReplyAt last wrote, as
 * narrow text; 0 when the body has none. */
static int field(const char *path, char *text, size_t capacity) {
  char16_t path16[64], value[1024];
  return widen(path, path16, 64) && GTaskReadField(kBody, path16, value, 1024) == TC_EXCHANGE_COMPLETE &&
         narrow(value, text, capacity);
}

/* The same for `format` with one number in it ("items.%d.title"). */
static int item(const char *format, int index, char *text, size_t capacity) {
  char path[64];
  snprintf(path, sizeof path, format, index);
  return field(path, text, capacity);
}

/* The HTTP status of reply `index` of the response file, its body in
 * BODY_FILE; or the library's code (TC_NO_SUCH_REPLY past the last). */
static int reply_at(int index) { return (int)GTaskReadReplyAt(kReply, index, kBody); }

/* An id or page token as one path segment or query value: every byte but
 * the unreserved ones percent-encoded. */
static void encode(const char *text, char *out, size_t capacity) {
  static const char hex[] = "0123456789ABCDEF";
  size_t used = 0;
  for (; *text && used + 4 < capacity; ++text) {
    unsigned char c = (unsigned char)*text;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || strchr("-._~", c)) {
      out[used++] = (char)c;
    } else {
      out[used++] = '%';
      out[used++] = hex[c >> 4];
      out[used++] = hex[c & 15];
    }
  }
  out[used] = 0;
}

/* Text as a JSON string's content: quotes, backslashes and control bytes
 * escaped. */
static void json_text(const char *text, char *out, size_t capacity) {
  size_t used = 0;
  for (; *text && used + 7 < capacity; ++text) {
    unsigned char c = (unsigned char)*text;
    if (c == '"' || c == '\\') {
      out[used++] = '\\';
      out[used++] = (char)c;
    } else if (c < 0x20) {
      used += (size_t)snprintf(out + used, capacity - used, "\\u%04x", c);
    } else {
      out[used++] = (char)c;
    }
  }
  out[used] = 0;
}

/* The service's time from the Date header of the first reply in the response
 * file, as RFC 3339 ("2026-12-11T13:37:30.000Z"): the next sync asks for
 * every change from then on, so a change made while this one runs is not
 * missed. 0 when there is none. */
static int service_time(char *out, size_t capacity) {
  static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  char line[256], month[4];
  int day, year, hour, minute, second, found = 0;
  const char *at = NULL;
  FILE *file = fopen(REPLY_FILE, "rb");
  if (!file) return 0;
  while (!found && fgets(line, sizeof line, file) && line[0] != '\r' && line[0] != '\n') {
    if (strncmp(line, "Date: ", 6) != 0) continue;
    found = sscanf(line + 6, "%*3s, %d %3s %d %d:%d:%d GMT", &day, month, &year, &hour, &minute, &second) == 6 &&
            (at = strstr(months, month)) != NULL && (at - months) % 3 == 0;
  }
  fclose(file);
  if (found) {
    snprintf(out, capacity, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", year, (int)(at - months) / 3 + 1, day, hour,
             minute, second);
  }
  return found;
}

struct List {
  char id[ID_CAPACITY];
  char title[256];
  char page[ID_CAPACITY]; /* the next page's token, or "" */
  int changes;
};

static struct List lists[MAX_LISTS];
static int listCount;

/* One changes request per list in `wanted` (their next page where they have
 * one), in one GTaskRequestsSSL call; prints each list's changes. Returns
 * how many lists have a further page, or -1 when a step failed. */
static int fetch_changes(const char16_t *token, const char *since, const int *wanted, int count) {
  char encoded[3 * ID_CAPACITY], pageEncoded[3 * ID_CAPACITY];
  int i, more = 0;
  int32_t result;
  FILE *requests = fopen(REQUESTS_FILE, "wb");
  if (!requests) return -1;
  for (i = 0; i < count; ++i) {
    struct List *list = &lists[wanted[i]];
    encode(list->id, encoded, sizeof encoded);
    fprintf(requests, "GET /tasks/v1/lists/%s/tasks?maxResults=100&showDeleted=true&showHidden=true&showAssigned=true",
            encoded);
    if (since[0]) fprintf(requests, "&updatedMin=%s", since);
    if (list->page[0]) {
      encode(list->page, pageEncoded, sizeof pageEncoded);
      fprintf(requests, "&pageToken=%s", pageEncoded);
    }
    fputs("\r\n", requests);
  }
  if (fclose(requests) != 0) return -1;
  result = GTaskRequestsSSL(token, kRequests, kReply);
  printf("changes  GTaskRequestsSSL: %d requests, result %d\n", count, (int)result);
  if (result != TC_EXCHANGE_COMPLETE) return -1;
  for (i = 0; i < count; ++i) {
    struct List *list = &lists[wanted[i]];
    char number[16], title[512], status[32], flag[8];
    int status_code = reply_at(i), n, k;
    if (status_code != 200) {
      printf("         %s: HTTP status %d\n", list->title, status_code);
      return -1;
    }
    n = field("items.#", number, sizeof number) ? atoi(number) : 0; /* no changes: no items at all */
    for (k = 0; k < n && list->changes + k < SHOWN_PER_LIST; ++k) {
      if (!item("items.%d.title", k, title, sizeof title)) title[0] = 0;
      if (!item("items.%d.status", k, status, sizeof status)) strcpy(status, "?");
      printf("         %s: \"%s\" %s", list->title, title, status);
      if (item("items.%d.deleted", k, flag, sizeof flag) && strcmp(flag, "true") == 0) printf(", deleted");
      if (item("items.%d.hidden", k, flag, sizeof flag) && strcmp(flag, "true") == 0) printf(", hidden");
      printf("\n");
    }
    list->changes += n;
    if (!field("nextPageToken", list->page, sizeof list->page)) list->page[0] = 0;
    more += list->page[0] != 0;
  }
  return more;
}

/* Reads "LIST TASK" or "-" into list and task ("" for none). */
static void read_task(FILE *file, char *list, char *task) {
  char line[2 * ID_CAPACITY + 4];
  list[0] = task[0] = 0;
  if (file && fgets(line, sizeof line, file) && sscanf(line, "%255s %255s", list, task) != 2) list[0] = task[0] = 0;
}

int main(int argc, char **argv) {
  char16_t refresh[1024], secret[256], client[256], token16[2100];
  char token[2100], number[16], since[40] = "", next[40] = "";
  char addedList[ID_CAPACITY], addedTask[ID_CAPACITY], doneList[ID_CAPACITY], doneTask[ID_CAPACITY];
  char newTask[ID_CAPACITY] = "", title[1024], text[512];
  char encodedList[3 * ID_CAPACITY], encodedTask[3 * ID_CAPACITY];
  const char *statePath = argc > 5 ? argv[5] : "sync_example_state.txt";
  int wanted[MAX_LISTS], i, count, pending, index, status, total = 0;
  int32_t result;
  FILE *state, *requests;
  setlocale(LC_ALL, "");
  if (argc < 4 || !widen(argv[1], refresh, 1024) || !widen(argv[2], secret, 256) || !widen(argv[3], client, 256)) {
    fprintf(stderr, "usage: %s REFRESH_TOKEN CLIENT_SECRET CLIENT_ID [TITLE [STATE_FILE]]\n", argv[0]);
    return 2;
  }
  json_text(argc > 4 ? argv[4] : "Synced from the device", title, sizeof title);

  /* What the last run left: the time of its sync and its two tasks. */
  state = fopen(statePath, "r");
  if (state && (!fgets(since, sizeof since, state) || since[0] == '-')) since[0] = 0;
  since[strcspn(since, "\r\n")] = 0;
  read_task(state, addedList, addedTask);
  read_task(state, doneList, doneTask);
  if (state) fclose(state);
  printf("state    last sync: %s\n", since[0] ? since : "never (everything is a change)");

  /* Sign-in: a fresh access token, then the task lists. */
  result = GoogleTasksTokenRefreshSSL(refresh, secret, client, kReply);
  if (result != TC_EXCHANGE_COMPLETE || reply_at(0) != 200 || !field("access_token", token, sizeof token) ||
      !widen(token, token16, 2100)) {
    printf("sign-in  failed: result %d\n", (int)result);
    return 1;
  }
  result = GTaskListTasksSSL(token16, kReply);
  if (result != TC_EXCHANGE_COMPLETE || reply_at(0) != 200) {
    printf("lists    failed: result %d\n", (int)result);
    return 1;
  }
  listCount = field("items.#", number, sizeof number) ? atoi(number) : 0;
  if (listCount > MAX_LISTS) listCount = MAX_LISTS;
  for (i = 0; i < listCount; ++i) {
    if (!item("items.%d.id", i, lists[i].id, ID_CAPACITY) || !item("items.%d.title", i, lists[i].title, 256)) {
      printf("lists    list %d has no id or title\n", i);
      return 1;
    }
    wanted[i] = i;
  }
  printf("sign-in  %d task lists\n", listCount);
  if (listCount == 0) return 0;

  /* Call 1: every list's changes since the last sync, in one exchange; the
   * lists with more than a page of them again, until none has. The first
   * reply's Date is where the next sync starts. */
  pending = fetch_changes(token16, since, wanted, listCount);
  if (pending < 0 || !service_time(next, sizeof next)) return 1;
  while (pending > 0) {
    for (i = 0, count = 0; i < listCount; ++i) {
      if (lists[i].page[0]) wanted[count++] = i;
    }
    if ((pending = fetch_changes(token16, since, wanted, count)) < 0) return 1;
  }
  for (i = 0; i < listCount; ++i) {
    if (lists[i].changes > SHOWN_PER_LIST) {
      printf("         %s: and %d more\n", lists[i].title, lists[i].changes - SHOWN_PER_LIST);
    }
    total += lists[i].changes;
  }
  printf("         %d changed tasks in %d lists\n", total, listCount);

  /* Call 2: the device's own changes, in one exchange: a new task, the last
   * run's task completed, the one before it deleted. */
  requests = fopen(REQUESTS_FILE, "wb");
  if (!requests) return 1;
  encode(lists[0].id, encodedList, sizeof encodedList);
  fprintf(requests, "POST /tasks/v1/lists/%s/tasks {\"title\": \"%s\"}\n", encodedList, title);
  if (addedTask[0]) {
    encode(addedList, encodedList, sizeof encodedList);
    encode(addedTask, encodedTask, sizeof encodedTask);
    fprintf(requests, "PATCH /tasks/v1/lists/%s/tasks/%s {\"status\": \"completed\"}\n", encodedList, encodedTask);
  }
  if (doneTask[0]) {
    encode(doneList, encodedList, sizeof encodedList);
    encode(doneTask, encodedTask, sizeof encodedTask);
    fprintf(requests, "DELETE /tasks/v1/lists/%s/tasks/%s\n", encodedList, encodedTask);
  }
  if (fclose(requests) != 0) return 1;
  result = GTaskRequestsSSL(token16, kRequests, kReply);
  printf("local    GTaskRequestsSSL: %d requests, result %d\n", 1 + (addedTask[0] != 0) + (doneTask[0] != 0),
         (int)result);
  if (result != TC_EXCHANGE_COMPLETE) return 1;
  index = 0;
  status = reply_at(index++);
  if (status != 200 || !field("id", newTask, sizeof newTask) || !field("title", text, sizeof text)) {
    printf("         add: HTTP status %d\n", status);
    return 1;
  }
  printf("         added \"%s\" to %s\n", text, lists[0].title);
  if (addedTask[0]) {
    status = reply_at(index++);
    /* A task deleted elsewhere since is gone: 404, nothing to complete. */
    if (status == 200 && field("status", text, sizeof text)) {
      printf("         the last run's task is %s\n", text);
    } else if (status == 404) {
      printf("         the last run's task is gone\n");
    } else {
      printf("         complete: HTTP status %d\n", status);
      return 1;
    }
  }
  if (doneTask[0]) {
    status = reply_at(index++);
    if (status != 204 && status != 404) {
      printf("         delete: HTTP status %d\n", status);
      return 1;
    }
    printf("         the task completed before it is %s\n", status == 204 ? "deleted" : "already gone");
  }
  /* Nothing after the last reply. */
  if ((status = reply_at(index)) != TC_NO_SUCH_REPLY) {
    printf("         reply %d: expected none, got %d\n", index, status);
    return 1;
  }

  /* What the next run starts from. */
  state = fopen(statePath, "w");
  if (!state) return 1;
  fprintf(state, "%s\n%s %s\n", next, lists[0].id, newTask);
  if (addedTask[0]) {
    fprintf(state, "%s %s\n", addedList, addedTask);
  } else {
    fprintf(state, "-\n");
  }
  if (fclose(state) != 0) return 1;
  printf("state    next sync from %s\n", next);
  remove(REQUESTS_FILE);
  remove(REPLY_FILE);
  remove(BODY_FILE);
  return 0;
}
