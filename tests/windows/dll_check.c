/* Runs taskclient.dll as a Windows host program does: loads it with
 * LoadLibraryW, finds every export by name and by ordinal (the two must be
 * the same function), and calls the operations through it. The DLL always
 * goes to www.googleapis.com:443; scripts/check-windows.sh runs this program
 * under wine in a private network namespace where that name is 127.0.0.1 and
 * the local stand-in for the service (or a misbehaving peer) listens there.
 *
 *   dll_check DLL DIR exports
 *   dll_check DLL DIR story CODE PKCE_CODE VERIFIER REDIRECT_URI
 *   dll_check DLL DIR expect RESULT [unopenable]
 *
 * DIR is a Windows path for the response files. Prints one line per check,
 * "PASS name" or "FAIL name: why"; the exit status is the number of failed
 * checks. */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int32_t(__stdcall* Call2)(const wchar_t*, const wchar_t*);
typedef int32_t(__stdcall* Call3)(const wchar_t*, const wchar_t*, const wchar_t*);
typedef int32_t(__stdcall* Call4)(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*);
typedef int32_t(__stdcall* Call5)(const wchar_t*, const wchar_t*, const wchar_t*, const void*, const wchar_t*);
typedef int32_t(__stdcall* CallRequest)(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                                        const wchar_t*);
typedef int32_t(__stdcall* CallField)(const wchar_t*, const wchar_t*, wchar_t*, int32_t);
typedef int32_t(__stdcall* CallAt)(const wchar_t*, int32_t, const wchar_t*);
typedef int32_t(__stdcall* Call6)(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                                  const wchar_t*);

/* The exports in ordinal order: ordinal i + 1 is kExports[i]. */
static const char* const kExports[] = {
    "GoogleTasksGetTokenSSL",     "GoogleTasksTokenRefreshSSL", "GTaskListTasksSSL",
    "GTaskListTasksListSSL",      "GTaskTaskAddSSL",            "GTaskTaskDeleteSSL",
    "GoogleTasksGetTokenPkceSSL", "GTaskListTasksListPageSSL",  "GTaskTaskCompleteSSL",
    "GTaskRequestSSL",            "GTaskReadReply",             "GTaskReadField",
    "GTaskRequestsSSL",           "GTaskReadReplyAt",
};
#define EXPORT_COUNT (sizeof kExports / sizeof kExports[0])

/* Kept as the generic function pointer type, which converts to each call's
 * own type without complaint. */
typedef void (*AnyFunction)(void);
static AnyFunction gExport[EXPORT_COUNT];
static int gFailed;
static int gQuiet; /* passes not reported (the exports, checked again on every run) */
static wchar_t gDir[MAX_PATH];

static void Check(int ok, const char* name, const char* why) {
  if (ok) {
    if (!gQuiet) printf("PASS %s\n", name);
  } else {
    printf("FAIL %s: %s\n", name, why);
    ++gFailed;
  }
  fflush(stdout);
}

static wchar_t* Wide(const char* text) {
  static wchar_t pool[8][4096];
  static int next;
  wchar_t* out = pool[next++ % 8];
  if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 4096)) out[0] = 0;
  return out;
}

static wchar_t* PathOf(const wchar_t* name) {
  static wchar_t pool[4][MAX_PATH];
  static int next;
  wchar_t* out = pool[next++ % 4];
  _snwprintf(out, MAX_PATH, L"%ls\\%ls", gDir, name);
  out[MAX_PATH - 1] = 0;
  return out;
}

/* The whole response file and its body with any chunked framing removed,
 * each NUL-terminated. Values are looked for in the body only: chunk
 * boundaries fall anywhere, inside a value too. */
static char gReply[1 << 20];
static char gBody[1 << 20];

static void JoinBody(void) {
  char* split = strstr(gReply, "\r\n\r\n");
  const char* at;
  size_t length = 0;
  int chunked;
  gBody[0] = 0;
  if (!split) return;
  *split = 0; /* the headers alone, for a moment */
  chunked = strstr(gReply, "Transfer-Encoding: chunked") != 0;
  *split = '\r';
  at = split + 4;
  if (!chunked) {
    strcpy(gBody, at);
    return;
  }
  for (;;) {
    char* end;
    unsigned long size = strtoul(at, &end, 16);
    if (end == at || size == 0 || !(end = strstr(end, "\r\n"))) break;
    at = end + 2;
    if (size > strlen(at) || length + size >= sizeof gBody) break;
    memcpy(gBody + length, at, size);
    length += size;
    at += size + 2;
  }
  gBody[length] = 0;
}

static int ReadReply(const wchar_t* path) {
  FILE* file = _wfopen(path, L"rb");
  size_t length = 0;
  gReply[0] = 0;
  gBody[0] = 0;
  if (!file) return 0;
  length = fread(gReply, 1, sizeof gReply - 1, file);
  gReply[length] = 0;
  fclose(file);
  JoinBody();
  return 1;
}

/* The HTTP status of the reply in the file, or 0. */
static int StatusOf(const wchar_t* path) {
  int status = 0;
  if (!ReadReply(path)) return 0;
  if (sscanf(gReply, "HTTP/1.1 %d ", &status) != 1) return 0;
  return status;
}

/* Copies the string value that follows `"key": "` after `after` in the last
 * reply's body (the stand-in's ids and tokens carry no escapes). */
static int Field(const char* after, const char* key, char* out, size_t capacity) {
  char pattern[64];
  const char* at = after ? strstr(gBody, after) : gBody;
  const char* end;
  if (!at) return 0;
  snprintf(pattern, sizeof pattern, "\"%s\": \"", key);
  at = strstr(at, pattern);
  if (!at) return 0;
  at += strlen(pattern);
  end = strchr(at, '"');
  if (!end || (size_t)(end - at) >= capacity) return 0;
  memcpy(out, at, (size_t)(end - at));
  out[end - at] = 0;
  return 1;
}

/* One operation: its result must be 999 and the file's status `status`. */
static void Expect(const char* name, int32_t result, const wchar_t* path, int status) {
  char why[160];
  int got = result == 999 ? StatusOf(path) : 0;
  snprintf(why, sizeof why, "result %d, HTTP status %d; expected 999 and %d", (int)result, got, status);
  Check(result == 999 && got == status, name, why);
}

static int LoadExports(const char* dllPath) {
  HMODULE module = LoadLibraryW(Wide(dllPath));
  size_t i;
  char why[200];
  if (!module) {
    snprintf(why, sizeof why, "LoadLibraryW failed, error %lu", GetLastError());
    Check(0, "load", why);
    return 0;
  }
  for (i = 0; i < EXPORT_COUNT; ++i) {
    FARPROC byName = GetProcAddress(module, kExports[i]);
    FARPROC byOrdinal = GetProcAddress(module, (LPCSTR)(uintptr_t)(i + 1));
    char name[80];
    uintptr_t nameAddress = 0, ordinalAddress = 0;
    snprintf(name, sizeof name, "export %u %s", (unsigned)(i + 1), kExports[i]);
    memcpy(&nameAddress, &byName, sizeof nameAddress); /* both are pointer-sized */
    memcpy(&ordinalAddress, &byOrdinal, sizeof nameAddress);
    snprintf(why, sizeof why, "by name %#llx, by ordinal %#llx", (unsigned long long)nameAddress,
             (unsigned long long)ordinalAddress);
    Check(byName != 0 && byName == byOrdinal, name, why);
    gExport[i] = (AnyFunction)byName;
  }
  /* Nothing beyond the last by ordinal. */
  Check(GetProcAddress(module, (LPCSTR)(uintptr_t)(EXPORT_COUNT + 1)) == 0, "no export after the last ordinal",
        "one more ordinal is exported");
  for (i = 0; i < EXPORT_COUNT; ++i) {
    if (!gExport[i]) return 0;
  }
  return 1;
}

static void Story(const char* code, const char* pkceCode, const char* verifier, const char* redirect) {
  const wchar_t* tokenFile = PathOf(L"token.json");
  char access[512], refresh[512], list[256], task[256];
  wchar_t accessW[512], listW[256], taskW[256];
  int32_t result;

  result = ((Call4)gExport[0])(Wide(code), L"secret", L"client", tokenFile);
  Expect("GoogleTasksGetTokenSSL", result, tokenFile, 200);
  Check(Field(0, "access_token", access, sizeof access) && Field(0, "refresh_token", refresh, sizeof refresh),
        "token reply holds both tokens", gBody);

  result = ((Call4)gExport[1])(Wide(refresh), L"secret", L"client", PathOf(L"refresh.json"));
  Expect("GoogleTasksTokenRefreshSSL", result, PathOf(L"refresh.json"), 200);
  Check(Field(0, "access_token", access, sizeof access), "refresh reply holds an access token", gBody);
  wcscpy(accessW, Wide(access));

  result = ((Call6)gExport[6])(Wide(pkceCode), L"secret", L"client", Wide(redirect), Wide(verifier),
                               PathOf(L"pkce.json"));
  Expect("GoogleTasksGetTokenPkceSSL", result, PathOf(L"pkce.json"), 200);

  result = ((Call2)gExport[2])(accessW, PathOf(L"lists.json"));
  Expect("GTaskListTasksSSL", result, PathOf(L"lists.json"), 200);
  Check(Field("\"items\"", "id", list, sizeof list), "listing names a task list", gBody);
  wcscpy(listW, Wide(list));

  result = ((Call3)gExport[3])(accessW, listW, PathOf(L"tasks.json"));
  Expect("GTaskListTasksListSSL", result, PathOf(L"tasks.json"), 200);

  result = ((Call5)gExport[4])(accessW, listW, L"Buy milk \x00e9\x4e2d", 0, PathOf(L"add.json"));
  Expect("GTaskTaskAddSSL", result, PathOf(L"add.json"), 200);
  Check(Field(0, "id", task, sizeof task) && strstr(gBody, "Buy milk \xc3\xa9\xe4\xb8\xad") != 0,
        "added task has an id and its UTF-8 title", gBody);
  wcscpy(taskW, Wide(task));

  result = ((Call4)gExport[8])(accessW, listW, taskW, PathOf(L"complete.json"));
  Expect("GTaskTaskCompleteSSL", result, PathOf(L"complete.json"), 200);
  Check(strstr(gBody, "\"completed\"") != 0, "completed task says so", gBody);

  result = ((Call4)gExport[7])(accessW, listW, L"", PathOf(L"page.json"));
  Expect("GTaskListTasksListPageSSL", result, PathOf(L"page.json"), 200);

  /* Any other request: notes and a due date for the task, by PATCH. */
  {
    wchar_t target[600];
    _snwprintf(target, 600, L"/tasks/v1/lists/%ls/tasks/%ls", listW, taskW);
    target[599] = 0;
    result = ((CallRequest)gExport[9])(accessW, L"PATCH", target, L"{\"notes\": \"n \x00e9\", \"due\": \"2026-12-24T00:00:00.000Z\"}",
                                 PathOf(L"request.json"));
    Expect("GTaskRequestSSL", result, PathOf(L"request.json"), 200);
    Check(strstr(gBody, "\"notes\": \"n \xc3\xa9\"") != 0, "patched task has its notes in UTF-8", gBody);
    /* The reader gives the status and leaves the body, framing removed. */
    Check(((Call2)gExport[10])(PathOf(L"request.json"), PathOf(L"request-body.json")) == 200,
          "GTaskReadReply gives the status", "not 200");
    /* A field of that body, decoded from UTF-8, in a buffer just large enough;
     * one unit less is too little, and a member it lacks is missing. */
    {
      wchar_t notes[4] = {L'?', L'?', L'?', L'?'};
      Check(((CallField)gExport[11])(PathOf(L"request-body.json"), L"notes", notes, 4) == 999 && notes[0] == L'n' &&
                notes[1] == L' ' && notes[2] == 0x00e9 && notes[3] == 0,
            "GTaskReadField reads the notes", "not 999 and \"n \\u00e9\"");
      Check(((CallField)gExport[11])(PathOf(L"request-body.json"), L"notes", notes, 3) == 11 && notes[0] == 0 &&
                notes[1] == L' ',
            "GTaskReadField: a buffer too small gives 11", "not 11 with only the first unit cleared");
      Check(((CallField)gExport[11])(PathOf(L"request-body.json"), L"items.0", notes, 4) == 30,
            "GTaskReadField: a missing member gives 30", "not 30");
    }
  }

  /* Two requests in one call, read back reply by reply: the second is the
   * task, and there is no third. */
  {
    FILE* file = _wfopen(PathOf(L"requests.txt"), L"wb");
    wchar_t id[256];
    if (file) {
      fprintf(file, "GET /tasks/v1/lists/%s/tasks\r\nGET /tasks/v1/lists/%s/tasks/%s\r\n", list, list, task);
      fclose(file);
    }
    result = ((Call3)gExport[12])(accessW, PathOf(L"requests.txt"), PathOf(L"requests.http"));
    Check(result == 999, "GTaskRequestsSSL sends two requests", "not 999");
    Check(((CallAt)gExport[13])(PathOf(L"requests.http"), 1, PathOf(L"requests-body.json")) == 200 &&
              ((CallField)gExport[11])(PathOf(L"requests-body.json"), L"id", id, 256) == 999 && wcscmp(id, taskW) == 0,
          "GTaskReadReplyAt reads the second reply", "not 200 with the task's id");
    Check(((CallAt)gExport[13])(PathOf(L"requests.http"), 2, PathOf(L"requests-body.json")) == 31,
          "GTaskReadReplyAt: past the last reply gives 31", "not 31");
  }

  result = ((Call4)gExport[5])(accessW, listW, taskW, PathOf(L"delete.json"));
  Expect("GTaskTaskDeleteSSL", result, PathOf(L"delete.json"), 204);

  /* A response path outside ASCII: Greek, CJK and an accented letter. */
  result = ((Call2)gExport[2])(accessW, PathOf(L"r\x00e9ponse-\x03b1\x03b2-\x4efb\x52a1.json"));
  Expect("non-ASCII response path", result, PathOf(L"r\x00e9ponse-\x03b1\x03b2-\x4efb\x52a1.json"), 200);

  /* A bad token: the call completes, the service refuses it. */
  result = ((Call2)gExport[2])(L"not-a-token", PathOf(L"unauthorized.json"));
  Expect("refused token", result, PathOf(L"unauthorized.json"), 401);

  /* Null arguments are refused before anything is sent. */
  Check(((Call2)gExport[2])(0, PathOf(L"null.json")) == 10, "null argument gives 10", "not 10");
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: dll_check DLL DIR exports|story|expect ...\n");
    return 100;
  }
  wcsncpy(gDir, Wide(argv[2]), MAX_PATH - 1);
  gQuiet = strcmp(argv[3], "expect") == 0;
  if (!LoadExports(argv[1])) return gFailed ? gFailed : 1;
  gQuiet = 0;
  if (strcmp(argv[3], "story") == 0 && argc == 8) {
    Story(argv[4], argv[5], argv[6], argv[7]);
  } else if (strcmp(argv[3], "expect") == 0 && argc >= 5) {
    /* One listing call, whose result must be RESULT. */
    int expected = atoi(argv[4]);
    const wchar_t* path = argc > 5 ? PathOf(L"no-such-folder\\reply.json") : PathOf(L"expect.json");
    int32_t result = ((Call2)gExport[2])(L"token", path);
    char name[64], why[64];
    snprintf(name, sizeof name, "result %d", expected);
    snprintf(why, sizeof why, "got %d", (int)result);
    Check(result == expected, name, why);
  } else if (strcmp(argv[3], "exports") != 0) {
    fprintf(stderr, "dll_check: unknown mode %s\n", argv[3]);
    return 100;
  }
  return gFailed;
}
