// The HTTP/1.1 request text every operation sends in one piece, and the
// capacities of the texts it is built from.
#ifndef TASKCLIENT_EXCHANGE_REQUEST_H
#define TASKCLIENT_EXCHANGE_REQUEST_H

#include <stddef.h>

#include "portable.h"
#include "result.h"
#include "exchange/service.h"
#include "platform/platform.h"
#include "text/text.h"
#include "taskclient.h"

namespace taskclient {

// Capacities in bytes, NUL included.
const size_t kHostCapacity = 200;
const size_t kPathCapacity = 200;
const size_t kAddPathCapacity = 1000;  // adding a task allows long list ids
const size_t kBodyCapacity = 1000;
// A task's JSON body: a title of up to 986 bytes once escaped, the 15 bytes of
// "{ \"title\": \"" and "\" }" around it, and the NUL.
const size_t kAddBodyCapacity = 986 + 15 + 1;
const size_t kTokenCapacity = 2049;    // the service's access tokens run to 2048 bytes
const size_t kRequestCapacity = 4608;

// Header lines naming the body's type, as each request variant writes them.
extern const char kFormContentType[];
extern const char kJsonContentType[];

struct RequestParts {
  const char* method;  // "GET ", "POST ", "PUT ", "PATCH ", "DELETE ": the name and one space
  const Text* path;    // the request-target
  const char* host;
  // The caller's access token, converted to the system's code page straight
  // into the "Authorization" line; null: no such line (token requests).
  const tc_text16* accessToken;
  const char* contentType;  // null: no content-type line
  // The body, ready to send: null for a request without one, which then has
  // no "Content-Length" line either; an empty text for an empty body
  // ("Content-Length: 0").
  const Text* body;
};

// Composes the request into `request`: the head, every line ended by CRLF,
// then as much of the body as fits; `*bodyInRequest` says how many of the
// body's bytes that is, the rest going out after the request text. Returns
// kOk; for the token kBadArgument (a control byte) or kTooLong (longer than
// kTokenCapacity - 1 bytes); kTooLong when the path overflowed or the head
// does not fit, `request` then being unusable.
Result ComposeRequest(Platform& platform, const RequestParts& parts, Text* request, size_t* bodyInRequest);

typedef FixedText<kRequestCapacity> RequestText;

}  // namespace taskclient

#endif
