// A sequence of requests in one exchange: one connection (more only where the
// server closes it), requests sent in order, replies written back to back to
// one response file in the same order.
#ifndef TASKCLIENT_EXCHANGE_SEQUENCE_H
#define TASKCLIENT_EXCHANGE_SEQUENCE_H

#include <stddef.h>

#include "portable.h"
#include "result.h"
#include "exchange/service.h"
#include "platform/platform.h"
#include "text/text.h"

namespace taskclient {

// Bytes of requests that may be sent and not yet answered: small enough to
// sit in the sockets' buffers on both sides, so that a server that writes its
// replies before it reads the next request never waits on the library while
// the library waits on it.
const size_t kPipelineWindow = 16384;
// Requests that may be sent and not yet answered.
const size_t kMaxUnanswered = 32;
// The one request text a sequence composes each request in: room for the
// longest head any request has (a 1000-byte target, the 2048-byte token and
// the API host come to under 3.4 KB) and the start of a body, whose rest goes
// out from the source's own buffer. Smaller than a single request's text, so
// that a sequence needs no more stack than one GTaskRequestSSL call.
const size_t kSequenceRequestCapacity = 4096;

// Where the requests of a sequence come from. The engine asks for each
// request by its index, in order, and again for an earlier one when it must
// send it again on a new connection.
class RequestSource {
 public:
  struct Composed {
    const char* rest;   // the body's bytes the request text had no room for
    size_t restLength;
    bool idempotent;    // GET, PUT, DELETE: may be pipelined and sent again
  };
  // Composes request `index` into `request`; `*composed` says what follows
  // it and how it may be sent. The bytes at `rest` stay valid until the next
  // call. kOk, or the result that ends the call.
  virtual Result Compose(size_t index, Text* request, Composed* composed) = 0;
  // The file the requests are read from while they are sent, or null: the
  // response file must not be that file, under any name.
  virtual const File* SourceFile() const { return 0; }
  // No destructor is declared: a source is never deleted through this class.
};

// Sends the `count` requests of `source` to `service` and writes every reply,
// byte for byte as it arrived, to the file at `responsePath`, in request
// order: interim 1xx replies before their final reply, nothing after the
// last reply.
//
// The first request is composed before the connection is made: a source
// that cannot compose it ends the call with nothing sent and no file opened.
//
// Consecutive idempotent requests are pipelined within kPipelineWindow; a
// POST or PATCH waits for every reply before it and nothing follows it until
// its own reply has arrived. While requests are unanswered and the next one
// cannot go, the engine reads replies, each wait bounded by the service's
// stall limit.
//
// When the server closes after a whole reply (or says "Connection: close" in
// it, after which nothing more is sent on that connection), the requests not
// yet answered go on a new connection (the TLS session of the call's previous connection
// resumed where the platform can): an idempotent request sent without a byte
// of reply is sent again; a POST or PATCH never is (kReplyCutShort). A
// connection that ends without giving one whole reply ends the call
// (kReplyCutShort; kSendFailed when nothing could be sent on the first one).
// A reply cut short is kReplyCutShort; a reply only the close ends, or a 101,
// ends the sequence: kExchangeComplete if it was the last, else
// kReplyCutShort. kExchangeComplete: every request sent, every reply whole in
// the file.
Result RunSequence(Platform& platform, const Service& service, RequestSource& source, size_t count,
                   const tc_text16* responsePath);

}  // namespace taskclient

#endif
