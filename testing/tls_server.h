// An HTTPS server on 127.0.0.1 for tests and local tools: OpenSSL, a
// throwaway self-signed certificate made when the server starts (or one of a
// throwaway test CA's, see Certificate), one thread per connection. What
// happens on a connection is up to the handler.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testsupport {

// A server context with a fresh P-256 key and a self-signed certificate for
// "localhost", valid one day. Throws when OpenSSL cannot make one.
SSL_CTX* MakeSelfSignedServerContext();

// What a server can present, for tests of certificate checking. All but
// kSelfSigned are issued, each with a fresh key, by the test CA: a throwaway
// P-256 CA made once per process, whose certificate TestCaPem gives for a
// client's trust store (SSL_CERT_FILE).
enum class Certificate {
  kSelfSigned,   // self-signed, CN "localhost", no alternative names (the default)
  kApiHost,      // www.googleapis.com, localhost and 127.0.0.1; valid from an hour ago for a day
  kOtherName,    // other.example only; valid as kApiHost
  kExpired,      // names as kApiHost; valid two days ago for one day
  kNotYetValid,  // names as kApiHost; valid from tomorrow (a device whose clock is behind)
  // Each of these is as kApiHost but for the one thing said.
  kSha1Signed,           // signed with SHA-1
  kRsa1024,              // an RSA key of 1024 bits
  kClientAuthOnly,       // extended key usage clientAuth only
  kNoExtendedUsage,      // no extended key usage at all
  kCnOnly,               // "localhost" in the subject CN only, no alternative names
  kViaIntermediate,      // issued by an intermediate CA (of the test CA), which the server sends too
  kMissingIntermediate,  // as kViaIntermediate, but the server sends its own certificate only
  kEcP224Issuer,         // as kViaIntermediate, the intermediate's key on P-224
  kLeafAsIssuer,         // issued by a server certificate (CA:FALSE) of the test CA, which the server sends
  // Each of these names one DNS name only, a wildcard one, in its
  // alternative names and its CN; valid as kApiHost.
  kWildcard,             // *.googleapis.com
  kWildcardPrefixed,     // w*.googleapis.com: a partial wildcard
  kWildcardSuffixed,     // *w.googleapis.com: a partial wildcard
  kWildcardOverLabels,   // *.com: www.googleapis.com only if the star took two labels
  kWildcardInnerLabel,   // www.*.com: the star past the left-most label
};

// A server context presenting `certificate`. Throws when OpenSSL cannot make one.
SSL_CTX* MakeServerContext(Certificate certificate);
// The test CA's certificate in PEM, and the same written to `file`.
std::string TestCaPem();
void WriteTestCaPem(const std::filesystem::path& file);
// What servers made from now on present until told otherwise (UseCertificate).
void SetDefaultServerCertificate(Certificate certificate);

// A listening TCP socket on 127.0.0.1:`port`, or [::1]:`port` with `ipv6`,
// or on `ipv4`, another address of 127.0.0.0/8, when given (port 0: the
// system picks one, told in `*boundPort`). Throws when it cannot listen.
int ListenOnLoopback(uint16_t port, int backlog, uint16_t* boundPort, bool ipv6 = false,
                     const char* ipv4 = nullptr);

// One HTTP request as it arrived.
struct HttpRequest {
  std::string raw;     // every byte read for it, head and body
  std::string method;
  std::string target;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// The server's side of one accepted TLS connection.
class TlsStream {
 public:
  TlsStream(int socket, SSL* session) : socket_(socket), session_(session) {}

  // Reads one request strictly, as mainstream servers do: CRLF line ends, a
  // body of exactly Content-Length bytes. Returns nothing if the client closed
  // or stalled for `timeoutMs`; `*error` (if given) then says what was wrong.
  std::optional<HttpRequest> ReadRequest(int timeoutMs, std::string* error = nullptr);
  // Reads whatever arrives within `timeoutMs` (bytes a client sent beyond its
  // request).
  std::string ReadPending(int timeoutMs);
  // Whether bytes past the last request read have arrived, waiting up to
  // `timeoutMs` for some; they stay for the next ReadRequest.
  bool MoreArrives(int timeoutMs);
  // Writes and flushes `bytes` as one TLS record sequence.
  bool Write(std::string_view bytes);
  // Waits until the client closes the connection or `timeoutMs` passes.
  void AwaitClose(int timeoutMs);
  // Shuts the connection down now (no close_notify when `abrupt`).
  void Close(bool abrupt = false);

  int socket() const { return socket_; }
  SSL* session() const { return session_; }

 private:
  int ReadSome(char* buffer, int capacity, int timeoutMs);

  int socket_;
  SSL* session_;
  std::string buffered_;
  bool closed_ = false;
};

class TlsServer {
 public:
  using Handler = std::function<void(TlsStream&)>;
  // Called with the raw socket before the handshake; returning false skips
  // TLS (the handler is then not called) and closes the socket.
  using RawHandler = std::function<bool(int socket)>;

  // Listens on 127.0.0.1, on ::1 only with `ipv6`, or on `ipv4` (see
  // ListenOnLoopback).
  explicit TlsServer(Handler handler, uint16_t port = 0, bool ipv6 = false, const char* ipv4 = nullptr);
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  uint16_t port() const { return port_; }
  void SetRawHandler(RawHandler raw);
  // Presents `certificate` on connections accepted from now on.
  void UseCertificate(Certificate certificate);
  // Connections accepted so far, and those whose handler has returned.
  int accepted() const { return accepted_.load(); }
  int finished() const { return finished_.load(); }
  // Stops accepting and waits for every connection's handler to return.
  void Stop();

 private:
  void AcceptLoop();
  void Serve(int socket);
  void ServeConnection(int socket);
  void JoinFinished();  // with threadsMutex_ held

  Handler handler_;
  RawHandler raw_;
  std::mutex rawMutex_;
  std::mutex contextMutex_;
  SSL_CTX* context_ = nullptr;  // with contextMutex_ held; each session keeps its own reference
  int listener_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex threadsMutex_;
  std::vector<std::thread> threads_;
  std::vector<std::thread::id> done_;  // connection threads that have returned, not yet joined
  std::atomic<int> accepted_{0};
  std::atomic<int> finished_{0};
  std::atomic<bool> stopping_{false};
};

}  // namespace testsupport
