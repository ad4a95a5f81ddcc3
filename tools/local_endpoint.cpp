// For tests and the demo only, never shipped: the endpoint of the exported
// functions taken from the environment variable TASKCLIENT_SERVICE
// ("HOST:PORT", e.g. the local stand-in). Linked with the library's own
// wrappers (src/exports.cpp) instead of the fixed API host, it lets a host
// program run unchanged against a local service. Without a usable setting the
// host is empty: every call then fails to resolve (TC_RESOLVE_FAILED) and
// sends nothing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exchange/service.h"

namespace taskclient {

// Read on every call, so a test may change it between calls; each thread
// keeps its own copy of the host name for the duration of its call.
Service ExportedService() {
  thread_local std::string host;
  Service service = ApiService();
  const char* setting = std::getenv("TASKCLIENT_SERVICE");
  const char* colon = setting ? std::strrchr(setting, ':') : nullptr;
  long port = colon ? std::strtol(colon + 1, nullptr, 10) : 0;
  if (!colon || colon == setting || port < 1 || port > 65535) {
    std::fprintf(stderr, "TASKCLIENT_SERVICE must name the local service as HOST:PORT\n");
    host.clear();
  } else {
    host.assign(setting, colon);
  }
  service.host = host.c_str();
  service.port = static_cast<uint16_t>(port);
  return service;
}

}  // namespace taskclient
