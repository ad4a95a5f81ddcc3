// A sequence of requests to the task paths in one call.
#ifndef TASKCLIENT_TASKS_REQUESTS_H
#define TASKCLIENT_TASKS_REQUESTS_H

#include "portable.h"
#include "result.h"
#include "exchange/service.h"
#include "platform/platform.h"

namespace taskclient {

// Sends the requests of the UTF-8 file at `requestsPath`, one a line
// ("METHOD TARGET" or "METHOD TARGET BODY"), with the one access token, and
// writes their replies back to back, in order, into the response file.
Result SendRequests(Platform& platform, const Service& service, const tc_text16* accessToken,
                    const tc_text16* requestsPath, const tc_text16* responsePath);

}  // namespace taskclient

#endif
