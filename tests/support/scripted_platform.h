// A platform that touches nothing real: it logs every call, replays a script
// of receive outcomes, keeps the bytes sent and the bytes written to the
// response file in memory, and fails the one step it is told to. The tests
// and the fuzz targets run the core on it.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace testsupport {

// One receive in the script: bytes, or an outcome without bytes.
struct Receipt {
  Receipt(std::string delivered) : bytes(std::move(delivered)) {}
  Receipt(const char* delivered) : bytes(delivered) {}
  static Receipt Outcome(long outcome) {
    Receipt receipt("");
    receipt.outcome = outcome;
    return receipt;
  }

  std::string bytes;
  long outcome = 1;  // 1: deliver `bytes`; else taskclient::kReceiveClosed, kReceiveFailed or kReceiveTimedOut
};

const Receipt kClosed = Receipt::Outcome(taskclient::kReceiveClosed);
const Receipt kFailed = Receipt::Outcome(taskclient::kReceiveFailed);
const Receipt kTimedOut = Receipt::Outcome(taskclient::kReceiveTimedOut);

class ScriptedPlatform : public taskclient::Platform {
 public:
  // `failAt` names the step that fails: "narrow", "start", "resolve",
  // "socket", "tls", "hook", "connect", "open file", "send", "write",
  // "close file", "open for reading" or "read"; any other name fails none. Once the script has run out,
  // every receive reports the peer closed.
  explicit ScriptedPlatform(std::vector<Receipt> script = {}, std::string failAt = "");

  // Every call in order, by the names above and "receive", "close socket",
  // "stop".
  std::vector<std::string> calls;
  std::vector<std::string> sent;  // the bytes of each send that succeeded
  std::string written;            // the bytes the response file took
  std::string stored;             // the bytes a file opened for reading holds

  // The host resolves to `addresses` addresses, IPv6 and IPv4 in turn (IPv6
  // first), numbered in their bytes from 0; the first `refusing` connects
  // fail, and each connect takes `connectMs` on the platform's clock, which
  // nothing else moves.
  size_t addresses = 1;
  size_t refusing = 0;
  uint32_t connectMs = 0;
  // Each connect's address and time limit: "6.0 1000" is the IPv6 address
  // numbered 0, given 1000 ms.
  std::vector<std::string> attempts;

  int Count(const std::string& call) const;

  bool StartNetworking() override;
  void StopNetworking() override;
  bool Resolve(const char* host, taskclient::AddressList* addresses) override;
  // A failing OpenSocket leaves the socket it made in place, as a platform
  // that made one and then failed to set it up would: the core must release
  // it all the same.
  bool OpenSocket(taskclient::Connection* connection, int family) override;
  bool SetTlsMode(taskclient::Connection* connection, const char* serverName) override;
  bool InstallCertificateRule(taskclient::Connection* connection) override;
  bool Connect(taskclient::Connection* connection, const taskclient::Address& address, uint16_t port,
               int timeoutMs) override;
  uint32_t Milliseconds() override;
  bool Send(taskclient::Connection* connection, const char* bytes, size_t length, int timeoutMs) override;
  // Delivers the next bytes in the storage the core lends, at most
  // kConnectionStorage at a time.
  long Receive(taskclient::Connection* connection, const char** bytes, int timeoutMs) override;
  void CloseSocket(taskclient::Connection* connection) override;
  bool OpenFileForWriting(const tc_text16* path, taskclient::File* file) override;
  // The "open file" step; never the source.
  BodyFileOpening OpenBodyFile(const tc_text16* path, const taskclient::File* source,
                               taskclient::File* file) override;
  bool WriteToFile(taskclient::File* file, const char* bytes, size_t length) override;
  bool OpenFileForReading(const tc_text16* path, taskclient::File* file) override;
  long ReadFile(taskclient::File* file, char* buffer, size_t capacity) override;
  bool CloseFile(taskclient::File* file) override;
  // UTF-8, as on POSIX.
  bool Narrow(const tc_text16* text, char* output, size_t capacity, size_t* length) override;

 private:
  // Logs `call`; false when it is the step that fails.
  bool Step(const char* call);

  std::deque<Receipt> script_;
  std::string failAt_;
  size_t readAt_ = 0;
  uint32_t clock_ = 0;
};

}  // namespace testsupport
