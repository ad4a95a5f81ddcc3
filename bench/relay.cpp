#include "relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <stdexcept>
#include <string>

#include "testing/tls_server.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

bool WriteAll(int socket, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t wrote = send(socket, bytes, length, MSG_NOSIGNAL);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes += wrote;
    length -= static_cast<size_t>(wrote);
  }
  return true;
}

// One direction of a link: what arrives on `from` goes to `to` `delay`
// later, piece by piece as it arrived; the end of `from` is passed on
// (shutdown of `to` for writing) as late.
void Pump(int from, int to, std::chrono::milliseconds delay) {
  struct Piece {
    Clock::time_point due;
    std::string bytes;  // empty: the end of the stream
  };
  std::deque<Piece> held;
  bool ended = false, broken = false;
  char buffer[65536];
  while (!broken && !(ended && held.empty())) {
    int wait = -1;
    if (!held.empty()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(held.front().due - Clock::now()).count();
      wait = static_cast<int>(std::max<long long>(0, left + 1));
    }
    // Once the stream has ended there is nothing more to read: only the
    // pieces held to wait for.
    pollfd entry{from, POLLIN, 0};
    int ready = ended ? poll(nullptr, 0, wait) : poll(&entry, 1, wait);
    if (ready < 0 && errno != EINTR) break;
    if (!ended && ready > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t got = recv(from, buffer, sizeof buffer, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got > 0) {
        held.push_back({Clock::now() + delay, std::string(buffer, static_cast<size_t>(got))});
      } else {
        ended = true;
        held.push_back({Clock::now() + delay, std::string()});
      }
    }
    while (!held.empty() && held.front().due <= Clock::now()) {
      if (held.front().bytes.empty()) {
        shutdown(to, SHUT_WR);
      } else if (!WriteAll(to, held.front().bytes.data(), held.front().bytes.size())) {
        broken = true;
        break;
      }
      held.pop_front();
    }
  }
  // A side that broke: the other side learns it at once.
  if (broken) shutdown(from, SHUT_RDWR);
}

}  // namespace

struct DelayRelay::Link {
  int client = -1, server = -1;
  std::thread up, down;
  std::atomic<int> finished{0};  // directions whose pump has returned
  ~Link() {
    shutdown(client, SHUT_RDWR);
    shutdown(server, SHUT_RDWR);
    if (up.joinable()) up.join();
    if (down.joinable()) down.join();
    close(client);
    close(server);
  }
};

DelayRelay::DelayRelay(uint16_t serverPort, std::chrono::milliseconds delay)
    : serverPort_(serverPort), delay_(delay) {
  listener_ = testsupport::ListenOnLoopback(0, 64, &port_);
  acceptor_ = std::thread([this] { Accept(); });
}

DelayRelay::~DelayRelay() {
  shutdown(listener_, SHUT_RDWR);  // wakes accept() with an error
  acceptor_.join();
  close(listener_);
  std::lock_guard<std::mutex> lock(mutex_);
  links_.clear();
}

int DelayRelay::connections() { return accepted_.load(); }

void DelayRelay::Accept() {
  for (;;) {
    int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(serverPort_);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
      if (server >= 0) close(server);
      close(client);
      continue;
    }
    // Pieces go on as they are due, not gathered by Nagle's rule.
    int yes = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ++accepted_;
    std::unique_ptr<Link> link(new Link);
    link->client = client;
    link->server = server;
    Link* started = link.get();
    const std::chrono::milliseconds delay = delay_;
    link->up = std::thread([started, delay] {
      Pump(started->client, started->server, delay);
      ++started->finished;
    });
    link->down = std::thread([started, delay] {
      Pump(started->server, started->client, delay);
      ++started->finished;
    });
    std::lock_guard<std::mutex> lock(mutex_);
    // Links whose both directions have ended give back their sockets and
    // threads, so that a long run does not run out of either.
    links_.erase(std::remove_if(links_.begin(), links_.end(),
                                [](const std::unique_ptr<Link>& old) { return old->finished.load() == 2; }),
                 links_.end());
    links_.push_back(std::move(link));
  }
}

}  // namespace bench
