// The four requests to the task-list paths, each with a bearer token.
#ifndef TASKCLIENT_TASKS_TASKS_H
#define TASKCLIENT_TASKS_TASKS_H

#include <stdint.h>

#include "exchange/request.h"
#include "platform/platform.h"

namespace taskclient {

// The user's task lists.
int32_t ListTaskLists(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* responsePath);

// The tasks of one task list.
int32_t ListTasks(Platform& platform, const Service& service, const tc_text16* accessToken,
                  const tc_text16* taskListId, const tc_text16* responsePath);

// Adds a task with a title; `reserved` is never read.
int32_t AddTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                const tc_text16* taskListId, const tc_text16* title, const void* reserved,
                const tc_text16* responsePath);

// Deletes one task of one task list.
int32_t DeleteTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                   const tc_text16* taskListId, const tc_text16* taskId, const tc_text16* responsePath);

// One page of up to 100 tasks of a list, completed and hidden ones included;
// an empty page token asks for the first page.
int32_t ListTasksPage(Platform& platform, const Service& service, const tc_text16* accessToken,
                      const tc_text16* taskListId, const tc_text16* pageToken, const tc_text16* responsePath);

// Marks a task completed.
int32_t CompleteTask(Platform& platform, const Service& service, const tc_text16* accessToken,
                     const tc_text16* taskListId, const tc_text16* taskId, const tc_text16* responsePath);

}  // namespace taskclient

#endif
