// What the stand-in's tests share: options, a raw TLS exchange and the
// fixture that signs in and sends requests as a generic client.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "local_service.h"
#include "json_reply.h"
#include "signin.h"
#include "testing/text16.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

using testsupport::PathText;
using testsupport::ReadFile;
using testsupport::T;
using testsupport::U;
using tools::JsonValue;

namespace localservicetest {

inline tools::LocalServiceOptions Quiet(int readTimeoutMs = 10000) {
  tools::LocalServiceOptions options;
  options.log = false;
  options.readTimeoutMs = readTimeoutMs;
  return options;
}

// Sends `bytes` over TLS as they are and returns everything the service
// answers until it closes the connection (or 5 s pass).
inline std::string RawExchange(uint16_t port, const std::string& bytes) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return "connect failed";
  }
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL* session = SSL_new(context);
  SSL_set_fd(session, fd);
  std::string reply;
  if (SSL_connect(session) == 1 && SSL_write(session, bytes.data(), static_cast<int>(bytes.size())) > 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd entry{fd, POLLIN, 0};
      if (SSL_pending(session) == 0 && poll(&entry, 1, 100) == 0) continue;
      int got = SSL_read(session, buffer, sizeof buffer);
      if (got <= 0) break;
      reply.append(buffer, static_cast<size_t>(got));
    }
  }
  ERR_clear_error();
  SSL_free(session);
  SSL_CTX_free(context);
  close(fd);
  return reply;
}

class LocalServiceTest : public ::testing::Test {
 protected:
  taskclient::Service service() const { return {"127.0.0.1", on_->port(), 5000, 5000}; }

  // The reply the last call left in the file, with its JSON body parsed
  // (an empty object when the body is empty).
  tools::Reply Reply() {
    std::string error;
    std::optional<tools::Reply> reply = tools::ReadReply(ReadFile(path_), &error);
    EXPECT_TRUE(reply) << error;
    return reply ? *reply : tools::Reply();
  }
  JsonValue Json() {
    tools::Reply reply = Reply();
    std::string error;
    std::optional<JsonValue> json = tools::ParseJson(reply.body.empty() ? "{}" : reply.body, &error);
    EXPECT_TRUE(json) << error << " in " << reply.body;
    return json ? *json : JsonValue();
  }
  std::string Field(const JsonValue& json, const char* path) {
    const JsonValue* value = json.At(path);
    return value ? value->ToString() : "(missing " + std::string(path) + ")";
  }

  // Signs in with a fresh code; returns the access token.
  std::string SignIn() {
    std::u16string code = U(on_->IssueAuthorizationCode());
    EXPECT_EQ(taskclient::GetToken(taskclient::SystemPlatform(), service(), T(code), T(u"secret"), T(u"client"),
                                   T(file_)),
              TC_EXCHANGE_COMPLETE);
    return Field(Json(), "access_token");
  }

  // One request as a generic client sends it: METHOD, target, a JSON body
  // with its Content-Type, and Content-Length: 0 for a bodiless POST, PUT or
  // PATCH. The status, and the body's JSON (an empty object when there is none).
  struct Answer {
    int status = 0;
    JsonValue json;
  };
  Answer Send(const std::string& access, const std::string& method, const std::string& target,
              const std::string& body = "") {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer " + access +
                          "\r\nConnection: close\r\n";
    if (!body.empty() || method == "POST" || method == "PUT" || method == "PATCH") {
      request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    }
    std::optional<tools::Reply> reply = tools::ReadReply(RawExchange(on_->port(), request + "\r\n" + body));
    Answer answer;
    if (!reply) {
      ADD_FAILURE() << "no reply to " << method << " " << target;
      return answer;
    }
    answer.status = reply->status;
    std::optional<JsonValue> json = tools::ParseJson(reply->body.empty() ? "{}" : reply->body);
    EXPECT_TRUE(json) << reply->body;
    if (json) answer.json = *json;
    return answer;
  }
  // Every value `path` leads to ("*" for each element), joined with ','; empty when none.
  static std::string Values(const JsonValue& json, const char* path) {
    std::string joined;
    for (const JsonValue* value : json.All(path)) joined += (joined.empty() ? "" : ",") + value->ToString();
    return joined;
  }

  tools::LocalService local_{Quiet()};
  tools::LocalService* on_ = &local_;  // the stand-in service(), SignIn() and Send() talk to
  testsupport::TempDir dir_;
  std::filesystem::path path_ = dir_ / "reply.txt";
  std::u16string file_ = PathText(path_);
};

}  // namespace localservicetest
