#include "clients.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace bench {

namespace {

SSL_CTX* MakeClientContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) return nullptr;
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  return context;
}

bool WriteAll(int file, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t written = write(file, bytes, length);
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

size_t WriteToFile(char* bytes, size_t size, size_t count, void* file) {
  return fwrite(bytes, size, count, static_cast<FILE*>(file));
}

}  // namespace

FloorClient::FloorClient(bool contextPerCall) : contextPerCall_(contextPerCall) {
  if (!contextPerCall_) context_ = MakeClientContext();
}

FloorClient::~FloorClient() { SSL_CTX_free(context_); }

bool FloorClient::Call(uint16_t port, const std::string& request, size_t replyLength, const char* filePath) const {
  SSL_CTX* context = contextPerCall_ ? MakeClientContext() : context_;
  if (!context) return false;
  int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = socket >= 0 && connect(socket, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
  SSL* session = ok ? SSL_new(context) : nullptr;
  int file = -1;
  if (session) {
    SSL_set_fd(session, socket);
    ok = SSL_connect(session) == 1;
    if (ok && filePath) {
      file = open(filePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      ok = file >= 0;
    }
    ok = ok && SSL_write(session, request.data(), static_cast<int>(request.size())) == static_cast<int>(request.size());
    char buffer[16384];
    size_t received = 0;
    while (ok && received < replyLength) {
      int got = SSL_read(session, buffer, sizeof buffer);
      if (got <= 0) {
        ok = false;
      } else {
        received += static_cast<size_t>(got);
        if (file >= 0) ok = WriteAll(file, buffer, static_cast<size_t>(got));
      }
    }
    if (SSL_is_init_finished(session)) SSL_shutdown(session);
    SSL_free(session);
  }
  if (file >= 0 && close(file) != 0) ok = false;
  if (socket >= 0) close(socket);
  if (contextPerCall_) SSL_CTX_free(context);
  ERR_clear_error();
  return ok;
}

CurlClient::CurlClient(std::string url, const std::string& hostLine, const std::string& authorizationLine)
    : url_(std::move(url)) {
  // The same header lines, in the same order, as the library sends.
  headers_ = curl_slist_append(headers_, hostLine.c_str());
  headers_ = curl_slist_append(headers_, authorizationLine.c_str());
  headers_ = curl_slist_append(headers_, "Accept:");  // drops curl's own, which it puts before the others
  headers_ = curl_slist_append(headers_, "Accept: */*");
}

CurlClient::~CurlClient() { curl_slist_free_all(headers_); }

bool CurlClient::Call(const char* filePath) const {
  FILE* file = fopen(filePath, "wb");
  if (!file) return false;
  CURL* easy = curl_easy_init();
  CURLcode result = CURLE_FAILED_INIT;
  if (easy) {
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADER, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, file);
    result = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
  }
  bool closed = fclose(file) == 0;
  return result == CURLE_OK && closed;
}

}  // namespace bench
