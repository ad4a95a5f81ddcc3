// The HTTP/1.1 request text every operation sends in one piece, and the
// capacities of the texts it is built from.
#ifndef TASKCLIENT_EXCHANGE_REQUEST_H
#define TASKCLIENT_EXCHANGE_REQUEST_H

#include <stddef.h>
#include <stdint.h>

#include "exchange/service.h"
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
  const char* method;       // "GET ", "POST ", "DELETE ": the name and one space
  const Text* path;         // the request-target
  const char* host;
  const Text* accessToken;  // null: no "Authorization" line (token requests)
  const char* contentType;  // null: no content-type line
  // The body: null together with bodyText for a request without one, which
  // then has no "Content-Length" line either; an empty text for an empty body
  // ("Content-Length: 0").
  const Text* body;
  // A body of the caller's 16-bit text, sent as UTF-8 after the composed text
  // and converted piece by piece, `bodyTextLength` bytes long. Used instead
  // of `body`.
  const tc_text16* bodyText;
  size_t bodyTextLength;
};

// Composes the request into `request`, every line ended by CRLF and nothing
// after the body (a `bodyText` is not part of it). False when it does not
// fit; `request` is then unusable.
bool ComposeRequest(const RequestParts& parts, Text* request);

typedef FixedText<kRequestCapacity> RequestText;

}  // namespace taskclient

#endif
