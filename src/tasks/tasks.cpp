#include "tasks/tasks.h"

#include "exchange/arguments.h"
#include "exchange/exchange.h"
#include "text/escape.h"

namespace taskclient {

namespace {

const char kTaskListsPath[] = "/tasks/v1/users/@me/lists";
const char kListsPrefix[] = "/tasks/v1/lists/";
const char kTasksSegment[] = "/tasks";
const char kTitleHead[] = "{ \"title\": \"";
const char kTitleTail[] = "\" }";
const char kPageQuery[] = "?maxResults=100&showCompleted=true&showHidden=true&showAssigned=true";
const char kPageTokenField[] = "&pageToken=";
const char kCompletedBody[] = "{ \"status\": \"completed\" }";

// Whether the path part of a request-target (up to any '?') has a "." or
// ".." segment: the target would leave the place its text names.
bool HasDotSegment(const Text& target) {
  const char* bytes = target.data();
  size_t end = 0;
  while (end < target.size() && bytes[end] != '?') ++end;
  size_t start = 0;
  for (size_t i = 0; i <= end; ++i) {
    if (i == end || bytes[i] == '/') {
      if (IsDotSegment(bytes + start, i - start)) return true;
      start = i + 1;
    }
  }
  return false;
}

// Copies a request-target as the caller gave it, by the target rules.
Result CopyTarget(const tc_text16* target, Text* out) {
  for (size_t i = 0; target[i] != 0; ++i) {
    Result result = AppendTargetUnit(static_cast<uint16_t>(target[i]), out);
    if (result != kOk) return result;
  }
  return CheckTarget(*out);
}

// The method the caller's 16-bit `name` names; null when none.
const ApiMethod* MethodNamed(const tc_text16* name) {
  char ascii[8];
  size_t length = 0;
  for (; name[length] != 0; ++length) {
    uint32_t unit = static_cast<uint16_t>(name[length]);
    if (length == sizeof ascii || unit > 0x7E) return 0;
    ascii[length] = static_cast<char>(unit);
  }
  return FindApiMethod(ascii, length);
}

// Converts an id and appends it to the path as one request-target segment.
// An id that is "." or ".." would name the segment before it: refused.
Result AppendId(Platform& platform, const tc_text16* id, Text* path) {
  FixedText<kAddPathCapacity> narrow;
  Result result = NarrowArgument(platform, id, &narrow);
  if (result != kOk) return result;
  if (IsDotSegment(narrow.data(), narrow.size())) return kBadArgument;
  return AppendPathSegment(narrow, path) ? kOk : kTooLong;
}

// The path of a list's tasks: /tasks/v1/lists/{list}/tasks.
Result BuildTasksPath(Platform& platform, const tc_text16* taskListId, Text* path) {
  path->Append(kListsPrefix);
  Result result = AppendId(platform, taskListId, path);
  path->Append(kTasksSegment);
  return result;
}

// The path of one task: /tasks/v1/lists/{list}/tasks/{task}.
Result BuildTaskPath(Platform& platform, const tc_text16* taskListId, const tc_text16* taskId, Text* path) {
  Result result = BuildTasksPath(platform, taskListId, path);
  if (result != kOk) return result;
  path->AppendByte('/');
  return AppendId(platform, taskId, path);
}

// Sends a request with the caller's bearer token and captures the reply.
// `body` is null for a bodiless request, or JSON text.
Result SendWithToken(Platform& platform, const Service& service, const char* method, const Text& path,
                     const tc_text16* accessToken, const Text* body, const tc_text16* responsePath) {
  const char* contentType = body && body->size() > 0 ? kJsonContentType : 0;
  RequestParts parts = {method, &path, service.host, accessToken, contentType, body};
  return SendRequest(platform, service, parts, responsePath);
}

}  // namespace

const char kRequestTargetPrefix[] = "/tasks/v1/";

const ApiMethod kApiMethods[] = {
    {"GET", "GET ", false, true},        {"POST", "POST ", true, false},     {"PUT", "PUT ", true, true},
    {"PATCH", "PATCH ", true, false},    {"DELETE", "DELETE ", false, true},
};
const size_t kApiMethodCount = sizeof kApiMethods / sizeof kApiMethods[0];

const ApiMethod* FindApiMethod(const char* name, size_t length) {
  for (size_t i = 0; i < kApiMethodCount; ++i) {
    const char* known = kApiMethods[i].name;
    size_t j = 0;
    while (j < length && known[j] != 0 && known[j] == name[j]) ++j;
    if (j == length && known[j] == 0) return &kApiMethods[i];
  }
  return 0;
}

Result AppendTargetUnit(uint32_t unit, Text* target) {
  if (unit < 0x21 || unit > 0x7E || unit == '#') return kBadArgument;
  return target->AppendByte(static_cast<char>(unit)) ? kOk : kTooLong;
}

Result CheckTarget(const Text& target) {
  const size_t prefixLength = sizeof kRequestTargetPrefix - 1;
  if (target.size() < prefixLength) return kBadArgument;
  for (size_t i = 0; i < prefixLength; ++i) {
    if (target.data()[i] != kRequestTargetPrefix[i]) return kBadArgument;
  }
  return HasDotSegment(target) ? kBadArgument : kOk;
}

Result SendApiRequest(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* method, const tc_text16* target, const tc_text16* jsonBody,
                      const tc_text16* responsePath) {
  if (!accessToken || !method || !target || !responsePath) return kBadArgument;
  const ApiMethod* chosen = MethodNamed(method);
  if (!chosen) return kBadArgument;
  FixedText<kTargetCapacity> path;
  Result result = CopyTarget(target, &path);
  if (result != kOk) return result;

  const bool withBody = jsonBody && jsonBody[0] != 0;
  if (withBody && !chosen->hasBody) return kBadArgument;
  // The caller's JSON, converted once; a bodiless POST, PUT or PATCH still
  // says "Content-Length: 0".
  FixedText<kJsonBodyLimit + 1> body;
  if (withBody) {
    result = Utf8Argument(jsonBody, &body);
    if (result != kOk) return result;
  }
  return SendWithToken(platform, service, chosen->requestLine, path, accessToken, chosen->hasBody ? &body : 0,
                       responsePath);
}

Result ListTaskLists(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* responsePath) {
  if (!accessToken || !responsePath) return kBadArgument;
  FixedText<kPathCapacity> path;
  path.Append(kTaskListsPath);
  return SendWithToken(platform, service, "GET ", path, accessToken, 0, responsePath);
}

Result ListTasks(Platform& platform, const Service& service, const tc_text16* accessToken,
                  const tc_text16* taskListId, const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !responsePath) return kBadArgument;
  FixedText<kPathCapacity> path;
  Result result = BuildTasksPath(platform, taskListId, &path);
  if (result != kOk) return result;
  return SendWithToken(platform, service, "GET ", path, accessToken, 0, responsePath);
}

Result AddTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                const tc_text16* taskListId, const tc_text16* title, const void* /*reserved*/,
                const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !title || !responsePath) return kBadArgument;
  FixedText<kAddPathCapacity> path;
  Result result = BuildTasksPath(platform, taskListId, &path);
  if (result != kOk) return result;

  // JSON text is UTF-8, whatever the platform's own narrow encoding.
  FixedText<kAddBodyCapacity> body;
  {
    FixedText<kBodyCapacity> narrowTitle;
    result = Utf8Argument(title, &narrowTitle);
    if (result != kOk) return result;
    body.Append(kTitleHead);
    AppendJsonString(narrowTitle, &body);
    body.Append(kTitleTail);
  }
  if (body.overflowed()) return kTooLong;
  return SendWithToken(platform, service, "POST ", path, accessToken, &body, responsePath);
}

Result ListTasksPage(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* taskListId, const tc_text16* pageToken, const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !pageToken || !responsePath) return kBadArgument;
  FixedText<kAddPathCapacity> path;
  Result result = BuildTasksPath(platform, taskListId, &path);
  if (result != kOk) return result;
  path.Append(kPageQuery);
  FixedText<kAddPathCapacity> token;
  result = Utf8Argument(pageToken, &token);
  if (result != kOk) return result;
  if (token.size() > 0) {
    path.Append(kPageTokenField);
    AppendQueryValue(token, &path);
  }
  return SendWithToken(platform, service, "GET ", path, accessToken, 0, responsePath);
}

Result CompleteTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                     const tc_text16* taskListId, const tc_text16* taskId, const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !taskId || !responsePath) return kBadArgument;
  FixedText<kPathCapacity> path;
  Result result = BuildTaskPath(platform, taskListId, taskId, &path);
  if (result != kOk) return result;
  FixedText<sizeof kCompletedBody> body;
  body.Append(kCompletedBody);
  return SendWithToken(platform, service, "PATCH ", path, accessToken, &body, responsePath);
}

Result DeleteTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                   const tc_text16* taskListId, const tc_text16* taskId, const tc_text16* responsePath) {
  if (!accessToken || !taskListId || !taskId || !responsePath) return kBadArgument;
  FixedText<kPathCapacity> path;
  Result result = BuildTaskPath(platform, taskListId, taskId, &path);
  if (result != kOk) return result;
  return SendWithToken(platform, service, "DELETE ", path, accessToken, 0, responsePath);
}

}  // namespace taskclient
