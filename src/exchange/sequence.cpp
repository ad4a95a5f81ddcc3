#include "exchange/sequence.h"

#include "exchange/arguments.h"
#include "exchange/exchange.h"
#include "exchange/reply_scanner.h"
#include "exchange/request.h"

namespace taskclient {

namespace {

TASKCLIENT_STATIC_ASSERT(kPipelineWindow <= 0xFFFF, a_request_size_counted_in_the_window_fits_16_bits);

// Where a sequence stands: what is answered in all, and what is out on the
// connection in use.
struct Progress {
  size_t count;
  size_t answered;         // whole replies in the file
  size_t next;             // the next request to send on this connection
  size_t unansweredBytes;  // bytes of the requests sent on it and not yet answered
  uint16_t sizes[kMaxUnanswered];  // each unanswered request's bytes, by index modulo kMaxUnanswered
  bool alone;              // a POST or PATCH is out: nothing goes until its reply is in
  size_t composed;         // the request `request` holds, or `count` for none
  RequestSource::Composed what;
  ReplyScanner scanner;    // the reply to request `answered`
  bool replyStarted;       // a byte of it other than the blank lines before it arrived
  size_t replies;          // whole replies on this connection
  bool sendFailed;         // a send failed on this connection: only receiving is left
  bool closing;            // a reply said "Connection: close": the server ends the connection after it
};

void StartConnection(Progress* p) {
  p->next = p->answered;
  p->unansweredBytes = 0;
  p->alone = false;
  p->scanner.Restart();
  p->replyStarted = false;
  p->replies = 0;
  p->sendFailed = false;
  p->closing = false;
}

bool BlankBytes(const char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') return false;
  }
  return true;
}

// Sends the request text, then the rest of its body.
bool SendAll(Platform& platform, Connection* connection, const Text& request, const char* rest, size_t restLength,
             int timeoutMs) {
  if (!platform.Send(connection, request.data(), request.size(), timeoutMs)) return false;
  return restLength == 0 || platform.Send(connection, rest, restLength, timeoutMs);
}

// Writes one received piece to the file, reply by reply: kOk to go on,
// kExchangeComplete when the last reply ended in it (nothing after it is
// written), or the result that ends the call.
Result TakeBytes(Platform& platform, File* file, const char* bytes, size_t length, Progress* p) {
  size_t at = 0;
  while (at < length) {
    if (p->answered == p->count) return kExchangeComplete;
    const char* piece = bytes + at;
    size_t left = length - at;
    if (p->answered == p->next) {
      // Nothing is asked: blank lines between replies are let through, a
      // reply to no request is not.
      if (!platform.WriteToFile(file, piece, left)) return kFileWriteFailed;
      if (!BlankBytes(piece, left)) return kReplyCutShort;
      size_t scanned = 0;
      p->scanner.Feed(piece, left, &scanned);
      return kOk;
    }
    size_t consumed = 0;
    ReplyScanner::Verdict verdict = p->scanner.Feed(piece, left, &consumed);
    size_t kept = verdict == ReplyScanner::kComplete ? consumed : left;
    if (!p->replyStarted && !BlankBytes(piece, kept)) p->replyStarted = true;
    if (!platform.WriteToFile(file, piece, kept)) return kFileWriteFailed;
    if (verdict == ReplyScanner::kMalformed) return kReplyCutShort;
    if (verdict == ReplyScanner::kNeedMore) return kOk;
    // A whole reply. After a 101 no HTTP follows on the connection; after
    // "Connection: close" nothing more is answered on it.
    const bool switched = p->scanner.status() == 101;
    p->closing = p->scanner.SaysClose();
    p->unansweredBytes -= p->sizes[p->answered % kMaxUnanswered];
    ++p->answered;
    ++p->replies;
    p->alone = false;
    p->scanner.Restart();
    p->replyStarted = false;
    if (switched) return p->answered == p->count ? kExchangeComplete : kReplyCutShort;
    if (p->closing) break;
    at += consumed;
  }
  return p->answered == p->count ? kExchangeComplete : kOk;
}

// The connection ended (`closeNotify`: with the peer's close_notify) while
// requests were unanswered. kOk: they go on a new connection.
Result AfterClose(const Progress& p, bool closeNotify, bool firstConnection) {
  if (p.replyStarted) {
    // A reply only the close ends is whole with close_notify, and nothing
    // can follow it.
    if (closeNotify && p.scanner.CloseEndsReply()) {
      return p.answered + 1 == p.count ? kExchangeComplete : kReplyCutShort;
    }
    return kReplyCutShort;
  }
  // No byte of the first unanswered reply. A connection that gave no whole
  // reply is not tried again: the next one would fare no better.
  if (p.replies == 0) return firstConnection && p.sendFailed ? kSendFailed : kReplyCutShort;
  // A POST or PATCH the server may have acted on is never sent again.
  if (p.alone) return kReplyCutShort;
  return kOk;
}

// Sends and receives on one connection until every reply is in
// (kExchangeComplete), the server closed after a whole reply with requests
// unanswered (kOk: on to a new connection), or the call must end.
Result Converse(Platform& platform, const Service& service, RequestSource& source, Connection* connection,
                File* file, Text* request, Progress* p, bool firstConnection) {
  const int stallMs = service.receiveTimeoutMs;
  for (;;) {
    if (p->answered == p->count) return kExchangeComplete;
    if (p->next < p->count && !p->alone && !p->sendFailed) {
      if (p->composed != p->next) {
        p->composed = p->count;
        Result composed = source.Compose(p->next, request, &p->what);
        if (composed != kOk) return composed;
        p->composed = p->next;
      }
      // A request counts for at most the whole window: one larger goes when
      // nothing is out, and nothing follows it until it is answered.
      size_t size = request->size() + p->what.restLength;
      if (size > kPipelineWindow) size = kPipelineWindow;
      const size_t unanswered = p->next - p->answered;
      // Idempotent requests follow each other within the window.
      const bool go = unanswered == 0 || (p->what.idempotent && unanswered < kMaxUnanswered &&
                                          p->unansweredBytes + size <= kPipelineWindow);
      if (go) {
        p->sizes[p->next % kMaxUnanswered] = static_cast<uint16_t>(size);
        p->unansweredBytes += size;
        if (!p->what.idempotent) p->alone = true;
        ++p->next;
        // A send that fails counts as sent: what it was may have reached the
        // server. The replies already on their way are still read.
        if (!SendAll(platform, connection, *request, p->what.rest, p->what.restLength, stallMs)) {
          p->sendFailed = true;
        }
        continue;
      }
    }
    const char* bytes = 0;
    long received = platform.Receive(connection, &bytes, stallMs);
    if (received == kReceiveTimedOut) return kReplyCutShort;
    if (received <= 0) return AfterClose(*p, received == kReceiveClosed, firstConnection);
    Result taken = TakeBytes(platform, file, bytes, static_cast<size_t>(received), p);
    if (taken != kOk) return taken;
    // The requests sent after the one the server closes with were never
    // read: they go again on the next connection.
    if (p->closing) return kOk;
  }
}

// Opens the response file for writing, unless it is the file the requests
// are read from (kBadArgument: both are left as they are).
Result OpenResponseFile(Platform& platform, const RequestSource& source, const tc_text16* responsePath, File* file) {
  const File* requests = source.SourceFile();
  if (!requests) return platform.OpenFileForWriting(responsePath, file) ? kOk : kFileOpenFailed;
  switch (platform.OpenBodyFile(responsePath, requests, file)) {
    case Platform::kFileOpened:
      return kOk;
    case Platform::kFileIsSource:
      return kBadArgument;
    case Platform::kFileNotOpened:
      break;
  }
  return kFileOpenFailed;
}

// Everything between starting and stopping networking. What it leaves held in
// `connection` and `file` the caller releases.
Result Sequence(Platform& platform, const Service& service, RequestSource& source, size_t count,
                const tc_text16* responsePath, Connection* connection, File* file, Text* request) {
  // The first request is composed before anything else: one the source
  // cannot compose costs no connection and leaves the file as it was.
  Progress p;
  p.count = count;
  p.answered = 0;
  Result result = source.Compose(0, request, &p.what);
  if (result != kOk) return result;
  p.composed = 0;
  AddressList addresses;
  result = Resolved(platform, service, &addresses);
  if (result != kOk) return result;
  for (bool first = true;; first = false) {
    // Every new connection must give a whole reply (AfterClose), so there
    // are at most `count` of them.
    result = Connected(platform, service, addresses, connection);
    if (result != kOk) return result;
    if (first) {
      result = OpenResponseFile(platform, source, responsePath, file);
      if (result != kOk) return result;
    }
    StartConnection(&p);
    result = Converse(platform, service, source, connection, file, request, &p, first);
    if (result != kOk) return result;
    // Closing keeps what the next handshake needs to resume this session.
    platform.CloseSocket(connection);
  }
}

}  // namespace

Result RunSequence(Platform& platform, const Service& service, RequestSource& source, size_t count,
                   const tc_text16* responsePath) {
  if (count == 0 || CheckTextArgument(responsePath) != kOk) return kBadArgument;
  if (!platform.StartNetworking()) return kNetworkingFailed;

  // As RunExchange's: the platform's room for the call, and the one request
  // text every request of the sequence is composed in, in turn.
  ConnectionStorage storage;
  Resumption resumption;
  resumption.held = false;
  resumption.handle = 0;
  Connection connection = {kNoSocket, 0, 0, storage.bytes, &resumption};
  File file = {kNoFile};
  FixedText<kSequenceRequestCapacity> request;
  Result result = Sequence(platform, service, source, count, responsePath, &connection, &file, &request);

  if (connection.socket != kNoSocket) platform.CloseSocket(&connection);
  platform.ForgetResumption(&resumption);
  if (file.handle != kNoFile && !platform.CloseFile(&file) && result == kExchangeComplete) {
    result = kFileWriteFailed;
  }
  platform.StopNetworking();
  return result;
}

}  // namespace taskclient
