// The shipped library's endpoint: always the service's API host on port 443.
#include "exchange/service.h"

namespace taskclient {

Service ExportedService() { return ApiService(); }

}  // namespace taskclient
