// The local stand-in for the service: the whole story through the library's
// internal functions, the service's error replies, and the strict reading of
// requests (a malformed request must fail loudly, not be guessed at).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "local_service.h"
#include "response_file.h"
#include "support/text16.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

using testsupport::PathText;
using testsupport::ReadFile;
using testsupport::T;
using testsupport::U;
using tools::JsonValue;

namespace {

tools::LocalServiceOptions Quiet(int readTimeoutMs = 10000) {
  tools::LocalServiceOptions options;
  options.log = false;
  options.readTimeoutMs = readTimeoutMs;
  return options;
}

// Sends `bytes` over TLS as they are and returns everything the service
// answers until it closes the connection (or 5 s pass).
std::string RawExchange(uint16_t port, const std::string& bytes) {
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
  taskclient::Service service() const { return {"127.0.0.1", local_.port(), 5000, 5000}; }

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
    std::u16string code = U(local_.IssueAuthorizationCode());
    EXPECT_EQ(taskclient::GetToken(taskclient::SystemPlatform(), service(), T(code), T(u"secret"), T(u"client"),
                                   T(file_)),
              TC_EXCHANGE_COMPLETE);
    return Field(Json(), "access_token");
  }

  tools::LocalService local_{Quiet()};
  testsupport::TempDir dir_;
  std::filesystem::path path_ = dir_ / "reply.txt";
  std::u16string file_ = PathText(path_);
};

TEST_F(LocalServiceTest, WholeStoryThroughTheInternalFunctions) {
  taskclient::Platform& platform = taskclient::SystemPlatform();
  std::u16string code = U(local_.authorizationCode());

  ASSERT_EQ(taskclient::GetToken(platform, service(), T(code), T(u"s/e+c"), T(u"client"), T(file_)),
            TC_EXCHANGE_COMPLETE);
  JsonValue tokens = Json();
  EXPECT_EQ(Reply().statusLine, "HTTP/1.1 200 OK");
  for (const char* name : {"access_token", "expires_in", "refresh_token", "scope", "token_type"}) {
    EXPECT_TRUE(tokens.Find(name)) << name;
  }
  // A code is good once.
  ASSERT_EQ(taskclient::GetToken(platform, service(), T(code), T(u"s"), T(u"client"), T(file_)), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Reply().status, 400);
  EXPECT_EQ(Field(Json(), "error"), "invalid_grant");

  std::u16string refresh = U(Field(tokens, "refresh_token"));
  ASSERT_EQ(taskclient::RefreshToken(platform, service(), T(refresh), T(u"s"), T(u"client"), T(file_)),
            TC_EXCHANGE_COMPLETE);
  JsonValue refreshed = Json();
  EXPECT_EQ(Reply().status, 200);
  EXPECT_FALSE(refreshed.Find("refresh_token")) << "a refresh reply carries no new refresh token";
  std::u16string token = U(Field(refreshed, "access_token"));

  ASSERT_EQ(taskclient::ListTaskLists(platform, service(), T(token), T(file_)), TC_EXCHANGE_COMPLETE);
  tools::Reply lists = Reply();
  EXPECT_TRUE(lists.chunked);
  EXPECT_GE(lists.chunks, 2) << "the body comes in several chunks";
  EXPECT_EQ(Field(Json(), "kind"), "tasks#taskLists");
  const std::string listId = Field(Json(), "items.0.id");
  std::u16string list = U(listId);

  auto titles = [&] {
    EXPECT_EQ(taskclient::ListTasks(platform, service(), T(token), T(list), T(file_)), TC_EXCHANGE_COMPLETE);
    JsonValue tasks = Json();
    EXPECT_EQ(Field(tasks, "kind"), "tasks#tasks");
    std::vector<std::string> found;
    if (const JsonValue* items = tasks.Find("items")) {
      for (const JsonValue& item : items->elements) found.push_back(Field(item, "title"));
    }
    return found;
  };
  const std::vector<std::string> before = titles();
  ASSERT_FALSE(before.empty());

  // Quotes, a backslash, a control byte and characters beyond ASCII all come
  // back as they were sent.
  const std::string title = "Buy \"milk\" \\ 2\t\xC3\xA9 \xF0\x9F\xA5\x9B";
  ASSERT_EQ(taskclient::AddTask(platform, service(), T(token), T(list), T(U(title)), nullptr, T(file_)),
            TC_EXCHANGE_COMPLETE);
  JsonValue added = Json();
  EXPECT_EQ(Reply().status, 200);
  EXPECT_EQ(Field(added, "title"), title);
  EXPECT_EQ(Field(added, "status"), "needsAction");
  EXPECT_EQ(Field(added, "kind"), "tasks#task");
  std::string id = Field(added, "id");
  EXPECT_NE(Field(added, "selfLink").find("/tasks/v1/lists/" + listId + "/tasks/" + id), std::string::npos);
  std::vector<std::string> withNew = before;
  withNew.insert(withNew.begin(), title);
  EXPECT_EQ(titles(), withNew);

  ASSERT_EQ(taskclient::DeleteTask(platform, service(), T(token), T(list), T(U(id)), T(file_)), TC_EXCHANGE_COMPLETE);
  tools::Reply deleted = Reply();
  EXPECT_EQ(deleted.statusLine, "HTTP/1.1 204 No Content");
  EXPECT_EQ(deleted.body, "");
  EXPECT_EQ(titles(), before);
}

TEST_F(LocalServiceTest, TokenPathRefusesWhatTheServiceRefuses) {
  struct Case {
    const char* what;
    bool refresh;
    std::u16string value, clientId;
    int status;
    const char* error;
  } cases[] = {
      {"unknown code", false, u"4/0Anever-issued", u"client", 400, "invalid_grant"},
      {"unknown refresh token", true, u"1//never-issued", u"client", 400, "invalid_grant"},
      {"no client id", false, U(local_.IssueAuthorizationCode()), u"", 401, "invalid_client"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto call = c.refresh ? taskclient::RefreshToken : taskclient::GetToken;
    ASSERT_EQ(call(taskclient::SystemPlatform(), service(), T(c.value), T(u"secret"), T(c.clientId), T(file_)),
              TC_EXCHANGE_COMPLETE);
    EXPECT_EQ(Reply().status, c.status);
    EXPECT_EQ(Field(Json(), "error"), c.error);
  }
}

TEST_F(LocalServiceTest, TaskPathsAnswer401And404LikeTheService) {
  taskclient::Platform& platform = taskclient::SystemPlatform();
  std::u16string token = U(SignIn());
  ASSERT_EQ(taskclient::ListTaskLists(platform, service(), T(token), T(file_)), TC_EXCHANGE_COMPLETE);
  std::u16string list = U(Field(Json(), "items.0.id"));
  std::u16string bad = u"ya29.not-a-token";
  struct Case {
    const char* what;
    std::function<int32_t()> call;
    int status;
    const char* reason;
  } cases[] = {
      {"lists, bad token", [&] { return taskclient::ListTaskLists(platform, service(), T(bad), T(file_)); }, 401,
       "authError"},
      {"add, bad token",
       [&] { return taskclient::AddTask(platform, service(), T(bad), T(list), T(u"x"), nullptr, T(file_)); }, 401,
       "authError"},
      {"tasks, unknown list",
       [&] { return taskclient::ListTasks(platform, service(), T(token), T(u"nolist"), T(file_)); }, 404,
       "notFound"},
      {"add, unknown list",
       [&] { return taskclient::AddTask(platform, service(), T(token), T(u"nolist"), T(u"x"), nullptr, T(file_)); },
       404, "notFound"},
      {"delete, unknown task",
       [&] { return taskclient::DeleteTask(platform, service(), T(token), T(list), T(u"notask"), T(file_)); }, 404,
       "notFound"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.call(), TC_EXCHANGE_COMPLETE);
    tools::Reply reply = Reply();
    EXPECT_EQ(reply.status, c.status);
    JsonValue json = Json();
    EXPECT_EQ(Field(json, "error.code"), std::to_string(c.status));
    EXPECT_EQ(Field(json, "error.errors.0.reason"), c.reason);
    if (c.status == 401) {
      EXPECT_NE(reply.headers["www-authenticate"].find("invalid_token"), std::string::npos);
    }
  }
}

TEST_F(LocalServiceTest, MalformedRequestsAreRefusedLoudly) {
  tools::LocalService strict(Quiet(300));  // a stalled request is refused after 0.3 s
  std::string token;
  {
    std::u16string code = U(strict.IssueAuthorizationCode());
    taskclient::Service there{"127.0.0.1", strict.port(), 5000, 5000};
    ASSERT_EQ(taskclient::GetToken(taskclient::SystemPlatform(), there, T(code), T(u"s"), T(u"c"), T(file_)),
              TC_EXCHANGE_COMPLETE);
    token = Field(Json(), "access_token");
  }
  std::string listsReply = RawExchange(
      strict.port(), "GET /tasks/v1/users/@me/lists HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer " + token +
                         "\r\nConnection: close\r\n\r\n");
  std::optional<JsonValue> lists = tools::ParseJson(tools::ReadReply(listsReply)->body);
  ASSERT_TRUE(lists);
  const std::string listPath = "/tasks/v1/lists/" + lists->At("items.0.id")->text + "/tasks";
  auto post = [&](const std::string& type, const std::string& body, const std::string& declaredLength) {
    return "POST " + listPath + " HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer " + token +
           "\r\nContent-Type: " + type + "\r\nConnection: close\r\nContent-Length: " + declaredLength + "\r\n\r\n" +
           body;
  };
  auto json = [&](const std::string& body) {
    return post("application/json", body, std::to_string(body.size()));
  };
  struct Case {
    const char* what;
    std::string request;
    int status;
    std::string inReply;
    bool malformed = false;  // refused before it reached a route
  } cases[] = {
      {"bare LF line ends", "GET /tasks/v1/users/@me/lists HTTP/1.1\nHost: h\n\n", 400, "bare LF", true},
      {"body shorter than Content-Length", post("application/json", "{\"title\"", "40"), 400, "shorter", true},
      {"no Content-Length", "POST " + listPath + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n", 411, ""},
      {"no Host", "GET /tasks/v1/users/@me/lists HTTP/1.1\r\nConnection: close\r\n\r\n", 400, "Host"},
      {"unknown path", "GET /tasks/v1/nowhere HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n", 404, "notFound"},
      {"method not allowed", "PUT /oauth2/v3/token HTTP/1.1\r\nHost: h\r\nContent-Length: 0\r\n\r\n", 405, ""},
      {"form to the token path as JSON",
       "POST /oauth2/v3/token HTTP/1.1\r\nHost: h\r\nContent-Type: application/json\r\nContent-Length: 2\r\n"
       "Connection: close\r\n\r\n{}",
       400, "invalid_request"},
      {"JSON body as a form", post("application/x-www-form-urlencoded", "title=x", "7"), 400, "Content-Type"},
      {"unterminated JSON", json("{\"title\": \"x}"), 400, "parseError"},
      {"trailing comma", json("{\"title\": \"x\",}"), 400, "parseError"},
      {"single quotes", json("{'title': 'x'}"), 400, "parseError"},
      {"bad escape", json("{\"title\": \"\\x41\"}"), 400, "parseError"},
      {"lone surrogate", json("{\"title\": \"\\ud83e\"}"), 400, "parseError"},
      {"raw newline in a string", json("{\"title\": \"a\nb\"}"), 400, "parseError"},
      {"bytes after the object", json("{\"title\": \"x\"} {}"), 400, "parseError"},
      {"title not a string", json("{\"title\": 5}"), 400, "resource.title"},
      {"not an object", json("[\"title\"]"), 400, "Not an object"},
      {"escapes decoded", json(" {\"notes\": [1, {\"a\": null}], \"title\": \"\\u00e9\\ud83e\\udd5b\\/\\\"\\n\"} "),
       200, "\"title\": \"\xC3\xA9\xF0\x9F\xA5\x9B/\\\"\\u000a\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string raw = RawExchange(strict.port(), c.request);
    std::optional<tools::Reply> reply = tools::ReadReply(raw);
    ASSERT_TRUE(reply) << raw;
    EXPECT_EQ(reply->status, c.status) << raw;
    EXPECT_NE(reply->body.find(c.inReply), std::string::npos) << reply->body;
    if (c.malformed) {
      EXPECT_EQ(reply->headers["connection"], "close") << "a malformed request ends the connection";
    }
  }
}

}  // namespace
