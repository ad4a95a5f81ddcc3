#include "exchange/service.h"

namespace taskclient {

const char kApiHost[] = "www.googleapis.com";

Service ApiService() {
  Service service = {kApiHost, kApiPort, kDefaultTimeoutMs, kDefaultTimeoutMs};
  return service;
}

}  // namespace taskclient
