// A slow link on the loopback interface: a TCP relay on 127.0.0.1 that holds
// every piece of data it receives for a fixed time in each direction before
// passing it on, between a client and a server on 127.0.0.1. This kernel has
// no netem; the relay stands in for it. TCP's own connect is not delayed (the
// client's connect completes at once, as the kernel accepts for the relay),
// so every fresh connection costs one round trip less than on a real link.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {

class DelayRelay {
 public:
  // Relays connections on a port of its own to 127.0.0.1:`serverPort`,
  // holding data `delay` in each direction.
  DelayRelay(uint16_t serverPort, std::chrono::milliseconds delay);
  ~DelayRelay();
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

  uint16_t port() const { return port_; }
  // Connections accepted so far.
  int connections();

 private:
  struct Link;
  void Accept();

  uint16_t serverPort_;
  std::chrono::milliseconds delay_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Link>> links_;  // with mutex_ held
  std::atomic<int> accepted_{0};
};

}  // namespace bench
