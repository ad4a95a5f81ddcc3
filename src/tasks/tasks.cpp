#include "tasks/tasks.h"

#include "exchange/arguments.h"
#include "exchange/exchange.h"

namespace taskclient {

namespace {

const char kTaskListsPath[] = "/tasks/v1/users/@me/lists";
const char kListsPrefix[] = "/tasks/v1/lists/";
const char kTasksSegment[] = "/tasks";
const char kTitleHead[] = "{ \"title\": \"";
const char kTitleTail[] = "\" }";
const char kPageQuery[] = "?maxResults=100&showCompleted=true&showHidden=true";
const char kPageTokenField[] = "&pageToken=";
const char kCompletedBody[] = "{ \"status\": \"completed\" }";

// Converts an id and appends it to the path as a request-target segment.
int32_t AppendId(Platform& platform, const tc_text16* id, Text* path) {
  FixedText<kAddPathCapacity> narrow;
  int32_t result = NarrowArgument(platform, id, kSystemText, &narrow);
  if (result != 0) return result;
  return AppendPathSegment(narrow, path) ? 0 : TC_TOO_LONG;
}

// The path of a list's tasks: /tasks/v1/lists/{list}/tasks.
int32_t BuildTasksPath(Platform& platform, const tc_text16* taskListId, Text* path) {
  path->Append(kListsPrefix);
  int32_t result = AppendId(platform, taskListId, path);
  path->Append(kTasksSegment);
  return result;
}

// The path of one task: /tasks/v1/lists/{list}/tasks/{task}.
int32_t BuildTaskPath(Platform& platform, const tc_text16* taskListId, const tc_text16* taskId, Text* path) {
  int32_t result = BuildTasksPath(platform, taskListId, path);
  if (result != 0) return result;
  path->AppendByte('/');
  return AppendId(platform, taskId, path);
}

// Sends a request with the caller's bearer token and captures the reply.
// `body` (with its content type) is null for a bodiless request.
int32_t SendWithToken(Platform& platform, const Service& service, const char* method, const Text& path,
                      const tc_text16* accessToken, const Text* body, const tc_text16* responsePath) {
  FixedText<kTokenCapacity> token;
  int32_t result = NarrowToken(platform, accessToken, &token);
  if (result != 0) return result;
  if (path.overflowed()) return TC_TOO_LONG;

  RequestText request;
  RequestParts parts = {method, &path, service.host, &token, body ? kJsonContentType : 0, body};
  if (!ComposeRequest(parts, &request)) return TC_TOO_LONG;
  return RunExchange(platform, service, request, responsePath);
}

}  // namespace

int32_t ListTaskLists(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* responsePath) {
  if (!accessToken || !responsePath) return TC_BAD_ARGUMENT;
  FixedText<kPathCapacity> path;
  path.Append(kTaskListsPath);
  return SendWithToken(platform, service, "GET ", path, accessToken, 0, responsePath);
}

int32_t ListTasks(Platform& platform, const Service& service, const tc_text16* accessToken,
                  const tc_text16* taskListId, const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !responsePath) return TC_BAD_ARGUMENT;
  FixedText<kPathCapacity> path;
  int32_t result = BuildTasksPath(platform, taskListId, &path);
  if (result != 0) return result;
  return SendWithToken(platform, service, "GET ", path, accessToken, 0, responsePath);
}

int32_t AddTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                const tc_text16* taskListId, const tc_text16* title, const void* /*reserved*/,
                const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !title || !responsePath) return TC_BAD_ARGUMENT;
  FixedText<kAddPathCapacity> path;
  int32_t result = BuildTasksPath(platform, taskListId, &path);
  if (result != 0) return result;

  // JSON text is UTF-8, whatever the platform's own narrow encoding.
  FixedText<kAddBodyCapacity> body;
  {
    FixedText<kBodyCapacity> narrowTitle;
    result = NarrowArgument(platform, title, kUtf8, &narrowTitle);
    if (result != 0) return result;
    body.Append(kTitleHead);
    AppendJsonString(narrowTitle, &body);
    body.Append(kTitleTail);
  }
  if (body.overflowed()) return TC_TOO_LONG;
  return SendWithToken(platform, service, "POST ", path, accessToken, &body, responsePath);
}

int32_t ListTasksPage(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* taskListId, const tc_text16* pageToken, const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !pageToken || !responsePath) return TC_BAD_ARGUMENT;
  FixedText<kAddPathCapacity> path;
  int32_t result = BuildTasksPath(platform, taskListId, &path);
  if (result != 0) return result;
  path.Append(kPageQuery);
  FixedText<kAddPathCapacity> token;
  result = NarrowArgument(platform, pageToken, kUtf8, &token);
  if (result != 0) return result;
  if (token.size() > 0) {
    path.Append(kPageTokenField);
    AppendQueryValue(token, &path);
  }
  return SendWithToken(platform, service, "GET ", path, accessToken, 0, responsePath);
}

int32_t CompleteTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                     const tc_text16* taskListId, const tc_text16* taskId, const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !taskId || !responsePath) return TC_BAD_ARGUMENT;
  FixedText<kPathCapacity> path;
  int32_t result = BuildTaskPath(platform, taskListId, taskId, &path);
  if (result != 0) return result;
  FixedText<kBodyCapacity> body;
  body.Append(kCompletedBody);
  return SendWithToken(platform, service, "PATCH ", path, accessToken, &body, responsePath);
}

int32_t DeleteTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                   const tc_text16* taskListId, const tc_text16* taskId, const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !taskId || !responsePath) return TC_BAD_ARGUMENT;
  FixedText<kPathCapacity> path;
  int32_t result = BuildTaskPath(platform, taskListId, taskId, &path);
  if (result != 0) return result;
  return SendWithToken(platform, service, "DELETE ", path, accessToken, 0, responsePath);
}

}  // namespace taskclient
