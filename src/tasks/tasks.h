// The requests to the task paths, each with a bearer token.
#ifndef TASKCLIENT_TASKS_TASKS_H
#define TASKCLIENT_TASKS_TASKS_H

#include <stddef.h>

#include "portable.h"
#include "result.h"
#include "exchange/service.h"
#include "platform/platform.h"
#include "text/text.h"

namespace taskclient {

// The user's task lists.
Result ListTaskLists(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* responsePath);

// The tasks of one task list.
Result ListTasks(Platform& platform, const Service& service, const tc_text16* accessToken,
                  const tc_text16* taskListId, const tc_text16* responsePath);

// Adds a task with a title; `reserved` is never read.
Result AddTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                const tc_text16* taskListId, const tc_text16* title, const void* reserved,
                const tc_text16* responsePath);

// Deletes one task of one task list.
Result DeleteTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                   const tc_text16* taskListId, const tc_text16* taskId, const tc_text16* responsePath);

// One page of up to 100 tasks of a list, completed and hidden ones included;
// an empty page token asks for the first page.
Result ListTasksPage(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* taskListId, const tc_text16* pageToken, const tc_text16* responsePath);

// Marks a task completed.
Result CompleteTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                     const tc_text16* taskListId, const tc_text16* taskId, const tc_text16* responsePath);

// The longest request-target and JSON body a caller may send, in bytes.
const size_t kTargetCapacity = 1001;
const size_t kJsonBodyLimit = 8192;

// The methods a request to the task paths may use: the name, the name as it
// starts the request line, whether the request carries a body (POST, PUT,
// PATCH: "Content-Length: 0" when it is empty), and whether it is idempotent
// (GET, PUT, DELETE: it may be pipelined, and sent again when the connection
// closed before any byte of its reply).
struct ApiMethod {
  const char* name;
  const char* requestLine;
  bool hasBody;
  bool idempotent;
};

// The method whose name is exactly the `length` bytes at `name`; null when
// there is none (names are upper case).
const ApiMethod* FindApiMethod(const char* name, size_t length);

// Every method, in the order GET, POST, PUT, PATCH, DELETE, for callers that
// name them.
extern const ApiMethod kApiMethods[];
extern const size_t kApiMethodCount;

// What every request-target begins with: "/tasks/v1/".
extern const char kRequestTargetPrefix[];

// A request-target's rules, for a target given in any form: every unit is
// visible ASCII but '#' (AppendTargetUnit appends it: kBadArgument, or
// kTooLong past kTargetCapacity - 1 bytes), and the whole target is under
// "/tasks/v1/" with no "." or ".." segment (CheckTarget: kBadArgument).
Result AppendTargetUnit(uint32_t unit, Text* target);
Result CheckTarget(const Text& target);

// Any request to the task paths: `method` is GET, POST, PUT, PATCH or DELETE;
// `target` the request-target as it goes on the wire, visible ASCII without
// '#' under "/tasks/v1/"; `jsonBody` null or empty for none (GET and DELETE
// take none), otherwise JSON sent as it stands in UTF-8.
Result SendApiRequest(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* method, const tc_text16* target, const tc_text16* jsonBody,
                      const tc_text16* responsePath);

}  // namespace taskclient

#endif
