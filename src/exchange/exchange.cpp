#include "exchange/exchange.h"

#include "exchange/reply_scanner.h"

namespace taskclient {

namespace {

// Receives until the reply ends, writing every received byte to the file.
int32_t CaptureReply(Platform& platform, Connection* connection, ResponseFile* file, int timeoutMs) {
  ReplyScanner scanner;
  for (;;) {
    const char* chunk = 0;
    long received = platform.Receive(connection, &chunk, timeoutMs);
    if (received == kReceiveClosed) return scanner.CloseEndsReply() ? TC_EXCHANGE_COMPLETE : TC_REPLY_CUT_SHORT;
    if (received < 0) return TC_REPLY_CUT_SHORT;
    size_t length = static_cast<size_t>(received);
    if (!platform.WriteResponseFile(file, chunk, length)) return TC_FILE_WRITE_FAILED;
    size_t scanned = 0;
    ReplyScanner::Verdict verdict = scanner.Feed(chunk, length, &scanned);
    if (verdict == ReplyScanner::kComplete) return TC_EXCHANGE_COMPLETE;
    if (verdict == ReplyScanner::kMalformed) return TC_REPLY_CUT_SHORT;
  }
}

// Everything between starting and stopping networking. What it leaves held in
// `connection` and `file` the caller releases.
int32_t Exchange(Platform& platform, const Service& service, const Text& request, const tc_text16* responsePath,
                 Connection* connection, ResponseFile* file) {
  uint32_t address = 0;
  if (!platform.Resolve(service.host, &address)) return TC_RESOLVE_FAILED;
  if (!platform.OpenSocket(connection) || !platform.SetTlsMode(connection, service.host)) return TC_TLS_MODE_FAILED;
  if (!platform.InstallAcceptAllHook(connection)) return TC_CERT_HOOK_FAILED;
  if (!platform.Connect(connection, address, service.port, service.connectTimeoutMs)) return TC_CONNECT_FAILED;
  if (!platform.OpenResponseFile(responsePath, file)) return TC_FILE_OPEN_FAILED;
  if (!platform.Send(connection, request.data(), request.size(), service.receiveTimeoutMs)) return TC_SEND_FAILED;
  return CaptureReply(platform, connection, file, service.receiveTimeoutMs);
}

}  // namespace

int32_t RunExchange(Platform& platform, const Service& service, const Text& request,
                    const tc_text16* responsePath) {
  if (!platform.StartNetworking()) return TC_NETWORKING_FAILED;

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
  int32_t result = Exchange(platform, service, request, responsePath, &connection, &file);

  if (connection.socket != kNoSocket) platform.CloseSocket(&connection);
  if (file.handle != kNoFile && !platform.CloseResponseFile(&file) && result == TC_EXCHANGE_COMPLETE) {
    result = TC_FILE_WRITE_FAILED;
  }
  platform.StopNetworking();
  return result;
}

}  // namespace taskclient
