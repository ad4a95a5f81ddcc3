// A sequence of requests to the task paths, sent in one call.
#ifndef TASKCLIENT_TASKS_REQUESTS_H
#define TASKCLIENT_TASKS_REQUESTS_H

#include "portable.h"
#include "result.h"
#include "exchange/service.h"
#include "platform/platform.h"

namespace taskclient {

// Sends the requests of the UTF-8 file at `requestsPath`, one per line
// ("METHOD TARGET" or "METHOD TARGET BODY", by SendApiRequest's rules), with
// the one access token, and writes every reply into the file at
// `responsePath`, back to back in request order. kExchangeComplete when
// every reply is whole in the file.
Result SendRequests(Platform& platform, const Service& service, const tc_text16* accessToken,
                    const tc_text16* requestsPath, const tc_text16* responsePath);

}  // namespace taskclient

#endif
