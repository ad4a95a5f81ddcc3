// The TLS test server with a scripted reply: it records every request byte
// for byte and answers each connection with the same sequence of writes.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "exchange/request.h"
#include "testing/tls_server.h"

namespace testsupport {

struct Reply {
  enum class End {
    kClose,        // close_notify, then close
    kAbruptClose,  // close the socket without close_notify
    kHold,         // keep the connection open, silent, until the client goes
  };
  std::vector<std::string> pieces;  // written in order, each flushed on its own
  int pauseMs = 0;                  // pause after each piece, so pieces arrive apart
  End end = End::kClose;
  bool readRequest = true;          // false: answer at once, without reading
};

// A reply of one piece.
Reply Respond(std::string bytes);
// A reply of several pieces, `pauseMs` apart.
Reply Pieces(std::vector<std::string> pieces, Reply::End end = Reply::End::kClose, int pauseMs = 20);
// `bytes` in pieces of `size` bytes.
std::vector<std::string> Split(const std::string& bytes, size_t size);
// All the pieces, in order: what the client should have received.
std::string Joined(const std::vector<std::string>& pieces);

class ScriptedServer {
 public:
  // On 127.0.0.1, on ::1 only with `ipv6`, or on `ipv4`, another address of
  // 127.0.0.0/8 (throws where it cannot listen).
  explicit ScriptedServer(Reply reply = Respond("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"),
                          bool ipv6 = false, const char* ipv4 = nullptr);

  void SetReply(Reply reply);
  // Each connection's request bytes, in the order the connections came, with
  // any bytes the client sent after its request appended. A request the
  // strict reader refused is recorded as "!" and the reason.
  std::vector<std::string> Requests();
  std::string LastRequest();

  // Where the library should go: this server, with short time limits.
  taskclient::Service service(int timeoutMs = 5000) const;
  TlsServer& server() { return server_; }

 private:
  void Handle(TlsStream& stream);

  std::mutex mutex_;
  Reply reply_;
  const char* host_;
  std::vector<std::string> requests_;
  TlsServer server_;
};

}  // namespace testsupport
