// One whole exchange with the service: connection, request, reply capture.
#ifndef TASKCLIENT_EXCHANGE_EXCHANGE_H
#define TASKCLIENT_EXCHANGE_EXCHANGE_H

#include <stdint.h>

#include "exchange/request.h"
#include "exchange/text.h"
#include "platform/platform.h"

namespace taskclient {

// Connects to `service`, sends `request` in one piece and copies the reply,
// byte for byte, into the file at `responsePath` until the reply's HTTP
// framing says it has ended. Networking, socket and file are acquired in that
// order and released as socket, file, networking on every path.
//
// The file is opened once the connection is up and before anything is sent,
// so a file that cannot be opened costs no request, and every failure before
// that point leaves an existing file as it was.
int32_t RunExchange(Platform& platform, const Service& service, const Text& request,
                    const tc_text16* responsePath);

}  // namespace taskclient

#endif
