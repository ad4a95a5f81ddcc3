#include "bench_server.h"

#include "testing/tls_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace bench {

BenchServer::BenchServer(std::vector<Route> routes, int threads) : routes_(std::move(routes)) {
  context_ = testsupport::MakeSelfSignedServerContext();
  listener_ = testsupport::ListenOnLoopback(0, 1024, &port_);
  for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

BenchServer::~BenchServer() {
  stopping_ = true;
  shutdown(listener_, SHUT_RDWR);  // wakes every accept() with an error
  for (auto& worker : workers_) worker.join();
  close(listener_);
  SSL_CTX_free(context_);
}

std::string BenchServer::LastRequest() {
  std::lock_guard<std::mutex> lock(lastMutex_);
  return last_;
}

void BenchServer::Work() {
  // A client that has gone must not end the process through SIGPIPE.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  while (!stopping_) {
    int socket = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    Serve(socket);
  }
}

void BenchServer::Serve(int socket) {
  timeval limit{10, 0};  // a client that stalls must not hold the worker
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int yes = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  SSL* session = SSL_new(context_);
  SSL_set_fd(session, socket);
  // Every request of the connection in turn, as a server that keeps its
  // connections alive: the next request (already sent, when the client
  // pipelines) is read after the reply to the one before, until the client
  // closes.
  bool served = false, failed = false;
  if (SSL_accept(session) == 1) {
    std::string pending;
    char buffer[4096];
    auto readMore = [&] {
      int got = SSL_read(session, buffer, sizeof buffer);
      if (got <= 0) return false;
      pending.append(buffer, static_cast<size_t>(got));
      return true;
    };
    for (;;) {
      size_t headEnd = std::string::npos;
      bool more = true;
      while (more && (headEnd = pending.find("\r\n\r\n")) == std::string::npos) more = readMore();
      if (!more) break;
      std::string head = pending.substr(0, headEnd + 4);
      size_t bodyLength = 0;
      size_t field = head.find("\r\nContent-Length: ");
      if (field != std::string::npos) bodyLength = std::strtoul(head.c_str() + field + 18, nullptr, 10);
      while (more && pending.size() < head.size() + bodyLength) more = readMore();
      if (!more) {
        failed = true;
        break;
      }
      pending.erase(0, head.size() + bodyLength);
      size_t lineEnd = head.find("\r\n");
      std::string requestLine = head.substr(0, lineEnd);
      const Route* route = nullptr;
      for (const Route& candidate : routes_) {
        if (requestLine.find(candidate.targetPart) != std::string::npos) {
          route = &candidate;
          break;
        }
      }
      {
        std::lock_guard<std::mutex> lock(lastMutex_);
        last_ = head;
      }
      if (!route) {
        failed = true;
        break;
      }
      const std::string& reply = route->reply;
      size_t done = 0;
      while (done < reply.size()) {
        int piece = static_cast<int>(std::min<size_t>(reply.size() - done, 1 << 20));
        int wrote = SSL_write(session, reply.data() + done, piece);
        if (wrote <= 0) break;
        done += static_cast<size_t>(wrote);
      }
      if (done != reply.size()) {
        failed = true;
        break;
      }
      served = true;
    }
  }
  if (failed) served = false;
  if (!served) ++failures_;
  ERR_clear_error();
  SSL_free(session);
  close(socket);
}

}  // namespace bench
