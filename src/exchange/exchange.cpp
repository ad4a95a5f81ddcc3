#include "exchange/exchange.h"

#include "exchange/reply_scanner.h"
#include "text/utf8.h"

namespace taskclient {

namespace {

// Receives until the reply ends, writing every received byte to the file.
Result CaptureReply(Platform& platform, Connection* connection, ResponseFile* file, int timeoutMs) {
  ReplyScanner scanner;
  for (;;) {
    const char* chunk = 0;
    long received = platform.Receive(connection, &chunk, timeoutMs);
    if (received == kReceiveClosed) return scanner.CloseEndsReply() ? kExchangeComplete : kReplyCutShort;
    if (received < 0) return kReplyCutShort;
    size_t length = static_cast<size_t>(received);
    if (!platform.WriteResponseFile(file, chunk, length)) return kFileWriteFailed;
    size_t scanned = 0;
    ReplyScanner::Verdict verdict = scanner.Feed(chunk, length, &scanned);
    if (verdict == ReplyScanner::kComplete) return kExchangeComplete;
    if (verdict == ReplyScanner::kMalformed) return kReplyCutShort;
  }
}

// Sends the request text, then the rest of a 16-bit body in converted pieces.
bool SendAll(Platform& platform, Connection* connection, const Text& request, const tc_text16* bodyText,
             size_t bodyPosition, int timeoutMs) {
  if (!platform.Send(connection, request.data(), request.size(), timeoutMs)) return false;
  if (!bodyText) return true;
  char piece[kBodyPieceCapacity];
  for (;;) {
    size_t length = Utf16ToUtf8Piece(bodyText, &bodyPosition, piece, sizeof piece);
    if (length == 0) return true;
    if (!platform.Send(connection, piece, length, timeoutMs)) return false;
  }
}

// Everything between starting and stopping networking. What it leaves held in
// `connection` and `file` the caller releases.
Result Exchange(Platform& platform, const Service& service, const Text& request, const tc_text16* bodyText,
                size_t bodyPosition, const tc_text16* responsePath, Connection* connection, ResponseFile* file) {
  uint32_t address = 0;
  if (!platform.Resolve(service.host, &address)) return kResolveFailed;
  if (!platform.OpenSocket(connection) || !platform.SetTlsMode(connection, service.host)) return kTlsModeFailed;
  if (!platform.InstallCertificateRule(connection)) return kCertHookFailed;
  if (!platform.Connect(connection, address, service.port, service.connectTimeoutMs)) {
    return platform.CertificateRefused(connection) ? kCertRefused : kConnectFailed;
  }
  if (!platform.OpenResponseFile(responsePath, file)) return kFileOpenFailed;
  if (!SendAll(platform, connection, request, bodyText, bodyPosition, service.receiveTimeoutMs)) return kSendFailed;
  return CaptureReply(platform, connection, file, service.receiveTimeoutMs);
}

}  // namespace

Result RunExchange(Platform& platform, const Service& service, const Text& request, const tc_text16* bodyText,
                   size_t bodyPosition, const tc_text16* responsePath) {
  if (!platform.StartNetworking()) return kNetworkingFailed;

  // The platform's room for this call: received bytes, and its TLS state
  // where it keeps that itself.
  union {
    char bytes[kConnectionStorage];
    void* pointer;
    uint64_t integer;
    double real;
  } storage;
  Connection connection = {kNoSocket, 0, 0, storage.bytes};
  ResponseFile file = {kNoFile};
  Result result = Exchange(platform, service, request, bodyText, bodyPosition, responsePath, &connection, &file);

  if (connection.socket != kNoSocket) platform.CloseSocket(&connection);
  if (file.handle != kNoFile && !platform.CloseResponseFile(&file) && result == kExchangeComplete) {
    result = kFileWriteFailed;
  }
  platform.StopNetworking();
  return result;
}

Result SendRequest(Platform& platform, const Service& service, const RequestParts& parts,
                   const tc_text16* responsePath) {
  RequestText request;
  if (!ComposeRequest(parts, &request)) return kTooLong;
  size_t bodyPosition = 0;
  if (parts.bodyText) {
    size_t room = request.capacity() - 1 - request.size();
    size_t length = Utf16ToUtf8Piece(parts.bodyText, &bodyPosition, request.Storage() + request.size(), room);
    request.SetLength(request.size() + length);
  }
  return RunExchange(platform, service, request, parts.bodyText, bodyPosition, responsePath);
}

}  // namespace taskclient
