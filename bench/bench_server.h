// A lean HTTPS server on 127.0.0.1 for the benchmarks: a fixed pool of
// threads accepts connections, does the TLS handshake, and answers each
// request of the connection (its head, and its body by Content-Length) with a
// reply fixed in advance, chosen by the request target, until the client
// closes.
// It records nothing and never pauses, so its cost per connection is the same
// for every client measured against it.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class BenchServer {
 public:
  struct Route {
    std::string targetPart;  // the reply goes to requests whose target contains this
    std::string reply;       // written as it is, then the next request is read
  };

  BenchServer(std::vector<Route> routes, int threads);
  ~BenchServer();
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  uint16_t port() const { return port_; }
  // The head of the most recent request, byte for byte.
  std::string LastRequest();
  // Connections with a request that matched no route or came short, or whose
  // handshake failed.
  int failures() const { return failures_.load(); }

 private:
  void Work();
  void Serve(int socket);

  std::vector<Route> routes_;
  SSL_CTX* context_ = nullptr;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> failures_{0};
  std::mutex lastMutex_;
  std::string last_;
  std::vector<std::thread> workers_;
};

}  // namespace bench
