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
  int backlogTasks = 120;          // tasks in the seeded "Backlog" list: more than one page of 100
  int failRequests = 0;            // task requests to turn away from the start (see FailNextRequests)
  int failStatus = 429;
  // Every id it hands out begins with '-': about one in 64 of the service's
  // ids do, and a script that takes such an id for an option then fails
  // every time instead of now and then.
  bool idsBeginWithDash = false;
  // The first list also holds three tasks assigned to the user, two from a
  // document and one from a Chat space, listed only with showAssigned=true.
  bool assignedTasks = false;
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
  // Issues one more authorization code (for the out-of-band redirect).
  std::string IssueAuthorizationCode();
  // Issues a code as the sign-in page does for a loopback redirect
  // (http://127.0.0.1:PORT, http://localhost[:PORT]): good for one token
  // request with this very redirect URI and, when `codeChallenge` is not
  // empty, with the code verifier whose S256 challenge it is.
  std::string IssueLoopbackCode(const std::string& redirectUri, const std::string& codeChallenge);
  // Turns away the next `count` requests to the task paths that carry a
  // valid token, with the service's error for `status`: 429 (its
  // rateLimitExceeded body, RESOURCE_EXHAUSTED), 403 (rateLimitExceeded as
  // older front ends sent it), 500 or 503 (backendError). Count 0 ends it.
  // Throws std::invalid_argument for another status or a negative count.
  void FailNextRequests(int count, int status = 429);
  // Stops accepting and waits for open connections to end.
  void Stop();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tools
