// A lean HTTPS server on 127.0.0.1 for the benchmarks: a fixed pool of
// threads accepts connections, does the TLS handshake, reads one request head
// and answers with a reply fixed in advance, chosen by the request target.
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
    std::string reply;       // written as it is, then the connection waits for the client to close
  };

  BenchServer(std::vector<Route> routes, int threads);
  ~BenchServer();
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  uint16_t port() const { return port_; }
  // The request head of the most recent connection, byte for byte.
  std::string LastRequest();
  // Connections whose request matched no route, or whose handshake failed.
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
