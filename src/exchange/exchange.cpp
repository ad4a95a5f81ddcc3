#include "exchange/exchange.h"

#include "exchange/arguments.h"
#include "exchange/reply_scanner.h"

namespace taskclient {

namespace {

// Receives until the reply ends, writing every received byte to the file.
Result CaptureReply(Platform& platform, Connection* connection, File* file, int timeoutMs) {
  ReplyScanner scanner;
  for (;;) {
    const char* chunk = 0;
    long received = platform.Receive(connection, &chunk, timeoutMs);
    if (received == kReceiveClosed) return scanner.CloseEndsReply() ? kExchangeComplete : kReplyCutShort;
    if (received < 0) return kReplyCutShort;
    size_t length = static_cast<size_t>(received);
    if (!platform.WriteToFile(file, chunk, length)) return kFileWriteFailed;
    size_t scanned = 0;
    ReplyScanner::Verdict verdict = scanner.Feed(chunk, length, &scanned);
    if (verdict == ReplyScanner::kComplete) return kExchangeComplete;
    if (verdict == ReplyScanner::kMalformed) return kReplyCutShort;
  }
}

// Sends the request text, then the rest of the body.
bool SendAll(Platform& platform, Connection* connection, const Text& request, const char* rest, size_t restLength,
             int timeoutMs) {
  if (!platform.Send(connection, request.data(), request.size(), timeoutMs)) return false;
  return restLength == 0 || platform.Send(connection, rest, restLength, timeoutMs);
}

// Everything between starting and stopping networking. What it leaves held in
// `connection` and `file` the caller releases.
Result Exchange(Platform& platform, const Service& service, const Text& request, const char* rest,
                size_t restLength, const tc_text16* responsePath, Connection* connection, File* file) {
  AddressList addresses;
  Result resolved = Resolved(platform, service, &addresses);
  if (resolved != kOk) return resolved;
  Result connected = Connected(platform, service, addresses, connection);
  if (connected != kOk) return connected;
  if (!platform.OpenFileForWriting(responsePath, file)) return kFileOpenFailed;
  if (!SendAll(platform, connection, request, rest, restLength, service.receiveTimeoutMs)) return kSendFailed;
  return CaptureReply(platform, connection, file, service.receiveTimeoutMs);
}

}  // namespace

Result Connected(Platform& platform, const Service& service, const AddressList& addresses,
                 Connection* connection) {
  const uint32_t budget = service.connectTimeoutMs > 0 ? static_cast<uint32_t>(service.connectTimeoutMs) : 0;
  const uint32_t started = platform.Milliseconds();
  Result result = kTlsModeFailed;  // until some address had a socket
  for (size_t i = 0; i < addresses.count; ++i) {
    uint32_t spent = platform.Milliseconds() - started;
    if (i > 0 && spent >= budget) break;
    const Address& address = addresses.entries[i];
    if (connection->socket != kNoSocket) platform.CloseSocket(connection);
    if (!platform.OpenSocket(connection, address.family)) continue;
    if (!platform.SetTlsMode(connection, service.host)) return kTlsModeFailed;
    if (!platform.InstallCertificateRule(connection)) return kCertHookFailed;
    // Each address gets an equal share of what is left, the last all of
    // it: an address that never answers (a dropped SYN) costs its share, not
    // the whole budget, and the addresses after it are still tried.
    uint32_t left = spent < budget ? budget - spent : 0;
    uint32_t share = left / static_cast<uint32_t>(addresses.count - i);
    if (platform.Connect(connection, address, service.port, static_cast<int>(share))) return kOk;
    if (platform.CertificateRefused(connection)) return kCertRefused;
    result = kConnectFailed;
  }
  return result;
}

Result Resolved(Platform& platform, const Service& service, AddressList* addresses) {
  addresses->count = 0;
  if (!platform.Resolve(service.host, addresses) || addresses->count == 0) return kResolveFailed;
  if (addresses->count > kMaxAddresses) addresses->count = kMaxAddresses;
  return kOk;
}

Result RunExchange(Platform& platform, const Service& service, const Text& request, const char* rest,
                   size_t restLength, const tc_text16* responsePath) {
  if (!platform.StartNetworking()) return kNetworkingFailed;

  // The platform's room for this call: received bytes, and its TLS state
  // where it keeps that itself.
  ConnectionStorage storage;
  Connection connection = {kNoSocket, 0, 0, storage.bytes, 0};
  File file = {kNoFile};
  Result result = Exchange(platform, service, request, rest, restLength, responsePath, &connection, &file);

  if (connection.socket != kNoSocket) platform.CloseSocket(&connection);
  if (file.handle != kNoFile && !platform.CloseFile(&file) && result == kExchangeComplete) {
    result = kFileWriteFailed;
  }
  platform.StopNetworking();
  return result;
}

Result SendRequest(Platform& platform, const Service& service, const RequestParts& parts,
                   const tc_text16* responsePath) {
  if (CheckTextArgument(responsePath) != kOk) return kBadArgument;
  RequestText request;
  size_t bodyInRequest = 0;
  Result result = ComposeRequest(platform, parts, &request, &bodyInRequest);
  if (result != kOk) return result;
  const char* rest = parts.body ? parts.body->data() + bodyInRequest : 0;
  size_t restLength = parts.body ? parts.body->size() - bodyInRequest : 0;
  return RunExchange(platform, service, request, rest, restLength, responsePath);
}

}  // namespace taskclient
