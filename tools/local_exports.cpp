// For tests and the demo only, never shipped: the exported names of
// include/taskclient.h defined over the internal functions, with the service
// taken from the environment variable TASKCLIENT_SERVICE ("HOST:PORT", e.g.
// the local stand-in). A host program linked to this file instead of
// libtaskclient runs unchanged against a local service; the shipped library
// always talks to the service's API host. Without the variable every call
// returns TC_RESOLVE_FAILED and sends nothing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exchange/request.h"
#include "platform/platform.h"
#include "taskclient.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

namespace {

using taskclient::SystemPlatform;

// Read on every call, so a test may change it between calls.
bool LocalService(std::string* host, taskclient::Service* service) {
  const char* setting = std::getenv("TASKCLIENT_SERVICE");
  const char* colon = setting ? std::strrchr(setting, ':') : nullptr;
  long port = colon ? std::strtol(colon + 1, nullptr, 10) : 0;
  if (!colon || colon == setting || port < 1 || port > 65535) {
    std::fprintf(stderr, "TASKCLIENT_SERVICE must name the local service as HOST:PORT\n");
    return false;
  }
  host->assign(setting, colon);
  *service = taskclient::ApiService();
  service->host = host->c_str();
  service->port = static_cast<uint16_t>(port);
  return true;
}

}  // namespace

#define WITH_LOCAL_SERVICE(call)                           \
  std::string host;                                        \
  taskclient::Service service;                             \
  if (!LocalService(&host, &service)) return TC_RESOLVE_FAILED; \
  return call

extern "C" {

int32_t GoogleTasksGetTokenSSL(const tc_text16* code, const tc_text16* secret, const tc_text16* id,
                               const tc_text16* path) {
  WITH_LOCAL_SERVICE(taskclient::GetToken(SystemPlatform(), service, code, secret, id, path));
}

int32_t GoogleTasksTokenRefreshSSL(const tc_text16* token, const tc_text16* secret, const tc_text16* id,
                                   const tc_text16* path) {
  WITH_LOCAL_SERVICE(taskclient::RefreshToken(SystemPlatform(), service, token, secret, id, path));
}

int32_t GTaskListTasksSSL(const tc_text16* token, const tc_text16* path) {
  WITH_LOCAL_SERVICE(taskclient::ListTaskLists(SystemPlatform(), service, token, path));
}

int32_t GTaskListTasksListSSL(const tc_text16* token, const tc_text16* list, const tc_text16* path) {
  WITH_LOCAL_SERVICE(taskclient::ListTasks(SystemPlatform(), service, token, list, path));
}

int32_t GTaskTaskAddSSL(const tc_text16* token, const tc_text16* list, const tc_text16* title,
                        const void* reserved, const tc_text16* path) {
  WITH_LOCAL_SERVICE(taskclient::AddTask(SystemPlatform(), service, token, list, title, reserved, path));
}

int32_t GTaskTaskDeleteSSL(const tc_text16* token, const tc_text16* list, const tc_text16* task,
                           const tc_text16* path) {
  WITH_LOCAL_SERVICE(taskclient::DeleteTask(SystemPlatform(), service, token, list, task, path));
}

int32_t GoogleTasksGetTokenPkceSSL(const tc_text16* code, const tc_text16* secret, const tc_text16* id,
                                   const tc_text16* redirectUri, const tc_text16* verifier, const tc_text16* path) {
  WITH_LOCAL_SERVICE(
      taskclient::GetTokenPkce(SystemPlatform(), service, code, secret, id, redirectUri, verifier, path));
}

int32_t GTaskListTasksListPageSSL(const tc_text16* token, const tc_text16* list, const tc_text16* page,
                                  const tc_text16* path) {
  WITH_LOCAL_SERVICE(taskclient::ListTasksPage(SystemPlatform(), service, token, list, page, path));
}

int32_t GTaskTaskCompleteSSL(const tc_text16* token, const tc_text16* list, const tc_text16* task,
                             const tc_text16* path) {
  WITH_LOCAL_SERVICE(taskclient::CompleteTask(SystemPlatform(), service, token, list, task, path));
}

}  // extern "C"
