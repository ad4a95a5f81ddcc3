// The clients the library is measured against.
#pragma once

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

// The floor: the least any client must do for one call. Blocking socket,
// connect, TLS handshake, write the request, read exactly `replyLength`
// bytes (known in advance, so nothing is parsed), close_notify, close. The
// TLS context is made once and reused, with no session cache, so every call
// makes a full handshake, as the library does.
class FloorClient {
 public:
  // `contextPerCall`: make and free the TLS context inside every call instead.
  explicit FloorClient(bool contextPerCall = false);
  ~FloorClient();
  FloorClient(const FloorClient&) = delete;
  FloorClient& operator=(const FloorClient&) = delete;

  // Writes the reply to `filePath` when it is not null.
  bool Call(uint16_t port, const std::string& request, size_t replyLength, const char* filePath) const;

 private:
  bool contextPerCall_;
  SSL_CTX* context_ = nullptr;
};

// What a developer would otherwise write with libcurl: a fresh easy handle
// per call, certificate checks off, HTTP/1.1, the raw reply (headers
// included) written to a file.
class CurlClient {
 public:
  // `hostLine`, `authorizationLine`: the header lines as the library sends them.
  CurlClient(std::string url, const std::string& hostLine, const std::string& authorizationLine);
  ~CurlClient();
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;

  bool Call(const char* filePath) const;

 private:
  std::string url_;
  curl_slist* headers_ = nullptr;
};

}  // namespace bench
