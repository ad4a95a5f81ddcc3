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
  bool served = false;
  if (SSL_accept(session) == 1) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      int got = SSL_read(session, buffer, sizeof buffer);
      if (got <= 0) break;
      head.append(buffer, static_cast<size_t>(got));
    }
    size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd == std::string::npos ? 0 : lineEnd);
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
    if (route) {
      const std::string& reply = route->reply;
      size_t done = 0;
      while (done < reply.size()) {
        int piece = static_cast<int>(std::min<size_t>(reply.size() - done, 1 << 20));
        int wrote = SSL_write(session, reply.data() + done, piece);
        if (wrote <= 0) break;
        done += static_cast<size_t>(wrote);
      }
      served = done == reply.size();
      // The client has the whole reply; wait for it to close, as a server
      // keeping the connection alive would.
      while (SSL_read(session, buffer, sizeof buffer) > 0) {
      }
    }
  }
  if (!served) ++failures_;
  ERR_clear_error();
  SSL_free(session);
  close(socket);
}

}  // namespace bench
