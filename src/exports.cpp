// The exported functions: each hands its arguments to the operation, with this
// platform and the endpoint the build names (ExportedService()).
#include "taskclient.h"

#include "readers/field_reader.h"
#include "readers/reply_reader.h"
#include "result.h"
#include "exchange/service.h"
#include "platform/platform.h"
#include "tasks/requests.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

using taskclient::ExportedService;
using taskclient::PublicCode;
using taskclient::SystemPlatform;

extern "C" {

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GoogleTasksGetTokenSSL(const tc_text16* authorizationCode,
                                                                 const tc_text16* clientSecret,
                                                                 const tc_text16* clientId,
                                                                 const tc_text16* responsePath) {
  return PublicCode(taskclient::GetToken(SystemPlatform(), ExportedService(), authorizationCode, clientSecret, clientId,
                              responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GoogleTasksTokenRefreshSSL(const tc_text16* refreshToken,
                                                                     const tc_text16* clientSecret,
                                                                     const tc_text16* clientId,
                                                                     const tc_text16* responsePath) {
  return PublicCode(taskclient::RefreshToken(SystemPlatform(), ExportedService(), refreshToken, clientSecret, clientId,
                                  responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskListTasksSSL(const tc_text16* accessToken,
                                                            const tc_text16* responsePath) {
  return PublicCode(taskclient::ListTaskLists(SystemPlatform(), ExportedService(), accessToken, responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskListTasksListSSL(const tc_text16* accessToken,
                                                                const tc_text16* taskListId,
                                                                const tc_text16* responsePath) {
  return PublicCode(taskclient::ListTasks(SystemPlatform(), ExportedService(), accessToken, taskListId, responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskTaskAddSSL(const tc_text16* accessToken,
                                                          const tc_text16* taskListId,
                                                          const tc_text16* title, const void* reserved,
                                                          const tc_text16* responsePath) {
  return PublicCode(taskclient::AddTask(SystemPlatform(), ExportedService(), accessToken, taskListId, title, reserved,
                             responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskTaskDeleteSSL(const tc_text16* accessToken,
                                                             const tc_text16* taskListId,
                                                             const tc_text16* taskId,
                                                             const tc_text16* responsePath) {
  return PublicCode(taskclient::DeleteTask(SystemPlatform(), ExportedService(), accessToken, taskListId, taskId,
                                responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GoogleTasksGetTokenPkceSSL(const tc_text16* authorizationCode,
                                                                     const tc_text16* clientSecret,
                                                                     const tc_text16* clientId,
                                                                     const tc_text16* redirectUri,
                                                                     const tc_text16* codeVerifier,
                                                                     const tc_text16* responsePath) {
  return PublicCode(taskclient::GetTokenPkce(SystemPlatform(), ExportedService(), authorizationCode, clientSecret, clientId,
                                  redirectUri, codeVerifier, responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskListTasksListPageSSL(const tc_text16* accessToken,
                                                                    const tc_text16* taskListId,
                                                                    const tc_text16* pageToken,
                                                                    const tc_text16* responsePath) {
  return PublicCode(taskclient::ListTasksPage(SystemPlatform(), ExportedService(), accessToken, taskListId, pageToken,
                                   responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskTaskCompleteSSL(const tc_text16* accessToken,
                                                               const tc_text16* taskListId,
                                                               const tc_text16* taskId,
                                                               const tc_text16* responsePath) {
  return PublicCode(taskclient::CompleteTask(SystemPlatform(), ExportedService(), accessToken, taskListId, taskId,
                                  responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskRequestSSL(const tc_text16* accessToken, const tc_text16* method,
                                                          const tc_text16* target, const tc_text16* jsonBody,
                                                          const tc_text16* responsePath) {
  return PublicCode(taskclient::SendApiRequest(SystemPlatform(), ExportedService(), accessToken, method, target,
                                               jsonBody, responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskReadReply(const tc_text16* responsePath, const tc_text16* bodyPath) {
  taskclient::ReplyRead read = taskclient::ReadReply(SystemPlatform(), responsePath, bodyPath);
  return read.result == taskclient::kOk ? read.status : PublicCode(read.result);
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskReadField(const tc_text16* bodyPath, const tc_text16* fieldPath,
                                                         tc_text16* value, int32_t valueCapacity) {
  return PublicCode(taskclient::ReadField(SystemPlatform(), bodyPath, fieldPath, value, valueCapacity));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskRequestsSSL(const tc_text16* accessToken, const tc_text16* requestsPath,
                                                           const tc_text16* responsePath) {
  return PublicCode(taskclient::SendRequests(SystemPlatform(), ExportedService(), accessToken, requestsPath,
                                             responsePath));
}

TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskReadReplyAt(const tc_text16* responsePath, int32_t index,
                                                           const tc_text16* bodyPath) {
  taskclient::ReplyRead read = taskclient::ReadReplyAt(SystemPlatform(), responsePath, index, bodyPath);
  return read.result == taskclient::kOk ? read.status : PublicCode(read.result);
}

}  // extern "C"
