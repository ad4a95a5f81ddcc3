// A local stand-in for the task service: HTTPS on 127.0.0.1 with a throwaway
// self-signed certificate, task lists and tasks kept in memory, replies shaped
// like the real service's. It drives every operation of the library end to end
// with no traffic beyond this machine: the demo, the command-line tool's tests
// and the example run against it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tools {

struct LocalServiceOptions {
  uint16_t port = 0;               // 0: the system picks a free one
  std::string authorizationCode;   // the code issued at start; empty: one is made up
  int readTimeoutMs = 10000;       // how long a request may stall before it is refused
  bool log = true;                 // one line per request on stderr
};

class LocalService {
 public:
  explicit LocalService(LocalServiceOptions options = LocalServiceOptions());
  ~LocalService();
  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;

  uint16_t port() const;
  // The authorization code issued at start. Each code is good for one token
  // request, as with the real service.
  std::string authorizationCode() const;
  // Issues one more authorization code.
  std::string IssueAuthorizationCode();
  // Stops accepting and waits for open connections to end.
  void Stop();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tools
