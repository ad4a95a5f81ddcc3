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
      {"complete, bad token",
       [&] { return taskclient::CompleteTask(platform, service(), T(bad), T(list), T(u"notask"), T(file_)); }, 401,
       "authError"},
      {"complete, unknown task",
       [&] { return taskclient::CompleteTask(platform, service(), T(token), T(list), T(u"notask"), T(file_)); }, 404,
       "notFound"},
      {"complete, unknown list",
       [&] { return taskclient::CompleteTask(platform, service(), T(token), T(u"nolist"), T(u"x"), T(file_)); }, 404,
       "notFound"},
      {"page, unknown list",
       [&] { return taskclient::ListTasksPage(platform, service(), T(token), T(u"nolist"), T(u""), T(file_)); }, 404,
       "notFound"},
      {"page, bad token",
       [&] { return taskclient::ListTasksPage(platform, service(), T(bad), T(list), T(u""), T(file_)); }, 401,
       "authError"},
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
  // A connection stays open for request after request until one says close.
  const std::string get = "GET /tasks/v1/users/@me/lists HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer " + token;
  const std::string three = RawExchange(strict.port(), get + "\r\n\r\n" + get + "\r\n\r\n" + get +
                                                           "\r\nConnection: close\r\n\r\n");
  size_t replies = 0;
  for (size_t at = 0; (at = three.find("HTTP/1.1 200 OK\r\n", at)) != std::string::npos; ++at) ++replies;
  EXPECT_EQ(replies, 3u) << three;
}

// --- Sign-in with a loopback redirect and PKCE --------------------------------

TEST_F(LocalServiceTest, PkceExchangeNeedsTheVerifierOfTheChallenge) {
  // The example of RFC 7636, appendix B.
  const std::string verifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
  const std::string challenge = tools::PkceChallenge(verifier);
  ASSERT_EQ(challenge, "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  const std::string otherVerifier(43, 'a');
  const std::string loopback = "http://127.0.0.1:8765";
  struct Case {
    const char* what;
    std::string issuedFor, challenge;  // the code's redirect URI and challenge
    std::string redirectUri, verifier;  // what the exchange sends (an empty verifier is left out)
    int status;
    const char* error;
  } cases[] = {
      {"the right verifier", loopback, challenge, loopback, verifier, 200, ""},
      {"a wrong verifier", loopback, challenge, loopback, otherVerifier, 400, "invalid_grant"},
      {"a verifier of the wrong form", loopback, challenge, loopback, "short", 400, "invalid_grant"},
      {"no verifier", loopback, challenge, loopback, "", 400, "invalid_grant"},
      {"a verifier for a code without challenge", loopback, "", loopback, verifier, 400, "invalid_grant"},
      {"no PKCE at all", "http://localhost", "", "http://localhost", "", 200, ""},
      {"another port", loopback, challenge, "http://127.0.0.1:8766", verifier, 400, "redirect_uri_mismatch"},
      {"an out-of-band code", "urn:ietf:wg:oauth:2.0:oob", "", "urn:ietf:wg:oauth:2.0:oob", "", 200, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string code = c.issuedFor == "urn:ietf:wg:oauth:2.0:oob"
                                 ? local_.IssueAuthorizationCode()
                                 : local_.IssueLoopbackCode(c.issuedFor, c.challenge);
    auto exchange = [&](const std::string& withVerifier) {
      EXPECT_EQ(taskclient::GetTokenPkce(taskclient::SystemPlatform(), service(), T(U(code)), T(u"secret"),
                                         T(u"client"), T(U(c.redirectUri)), T(U(withVerifier)), T(file_)),
                TC_EXCHANGE_COMPLETE);
    };
    exchange(c.verifier);
    EXPECT_EQ(Reply().status, c.status);
    JsonValue json = Json();
    if (c.status == 200) {
      EXPECT_TRUE(json.Find("access_token") && json.Find("refresh_token"));
    } else {
      EXPECT_EQ(Field(json, "error"), c.error);
    }
    // Whatever the outcome, the code is spent: not even the right verifier
    // gets a second try.
    exchange(c.verifier == otherVerifier ? verifier : c.verifier);
    EXPECT_EQ(Field(Json(), "error"), "invalid_grant");
  }
}

TEST_F(LocalServiceTest, SignInPageRedirectsToTheLoopbackWithACode) {
  const std::string verifier = tools::MakePkceVerifier();
  ASSERT_TRUE(tools::IsPkceVerifier(verifier)) << verifier;
  const std::string challenge = tools::PkceChallenge(verifier);
  auto open = [&](const std::string& url) {
    std::string target = url.substr(url.find("/o/"));
    return tools::ReadReply(RawExchange(local_.port(), "GET " + target + " HTTP/1.1\r\nHost: accounts\r\n"
                                                       "Connection: close\r\n\r\n"));
  };
  auto url = [&](const std::string& redirect, const std::string& withChallenge) {
    return tools::AuthorizationUrl("/o/oauth2/v2/auth", "client", redirect, withChallenge);
  };
  struct Case {
    const char* what;
    std::string url;
    int status;
    std::string location;  // for 302: the Location header starts with this
  } cases[] = {
      {"127.0.0.1 with a port", url("http://127.0.0.1:8765", challenge), 302, "http://127.0.0.1:8765/?code=4%2F0A"},
      {"localhost without a port", url("http://localhost", ""), 302, "http://localhost/?code="},
      {"[::1] with a path", url("http://[::1]:9000/done", challenge), 302, "http://[::1]:9000/done?code="},
      {"state comes back", url("http://localhost:1", "") + "&state=a%20b", 302, "http://localhost:1/?state=a%20b&code="},
      {"out-of-band redirect", url("urn:ietf:wg:oauth:2.0:oob", challenge), 400, ""},
      {"https loopback", url("https://127.0.0.1:8765", challenge), 400, ""},
      {"another host", url("http://127.0.0.2:8765", challenge), 400, ""},
      {"port 0", url("http://127.0.0.1:0", challenge), 400, ""},
      {"a query in the redirect", url("http://127.0.0.1:8765/?x=1", challenge), 400, ""},
      {"plain challenge method",
       "/o/oauth2/v2/auth?response_type=code&client_id=c&redirect_uri=http://localhost&scope=" +
           tools::PercentEncode(tools::kTasksScope) + "&code_challenge=" + challenge + "&code_challenge_method=plain",
       400, ""},
      {"short challenge", url("http://localhost", challenge.substr(1)), 400, ""},
      {"token response type",
       "/o/oauth2/v2/auth?response_type=token&client_id=c&redirect_uri=http://localhost&scope=" +
           tools::PercentEncode(tools::kTasksScope),
       400, ""},
      {"another scope", "/o/oauth2/v2/auth?response_type=code&client_id=c&redirect_uri=http://localhost&scope=email",
       400, ""},
      {"no client id", "/o/oauth2/v2/auth?response_type=code&redirect_uri=http://localhost&scope=" +
                           tools::PercentEncode(tools::kTasksScope),
       401, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<tools::Reply> reply = open(c.url);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status) << reply->body;
    EXPECT_EQ(reply->headers["location"].rfind(c.location, 0), 0u) << reply->headers["location"];
    if (c.status == 302) {
      EXPECT_EQ(reply->headers["content-length"], "0");
      EXPECT_NE(reply->headers["location"].find("&scope=https%3A%2F%2Fwww.googleapis.com%2Fauth%2Ftasks"),
                std::string::npos);
    }
  }

  // The code the browser is sent to, exchanged with the verifier.
  std::optional<tools::Reply> redirected = open(url("http://127.0.0.1:8765", challenge));
  ASSERT_TRUE(redirected);
  const std::string location = redirected->headers["location"];
  const size_t start = location.find("code=") + 5;
  std::string code = location.substr(start, location.find('&', start) - start);
  code.replace(code.find("%2F"), 3, "/");
  ASSERT_EQ(taskclient::GetTokenPkce(taskclient::SystemPlatform(), service(), T(U(code)), T(u"secret"), T(u"client"),
                                     T(u"http://127.0.0.1:8765"), T(U(verifier)), T(file_)),
            TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Reply().status, 200);
  EXPECT_TRUE(Json().Find("refresh_token"));
}

// --- Paging and completing ------------------------------------------------------

TEST_F(LocalServiceTest, SecondPageIsReachedThroughThePageToken) {
  taskclient::Platform& platform = taskclient::SystemPlatform();
  const std::string access = SignIn();
  const std::u16string token = U(access);
  ASSERT_EQ(taskclient::ListTaskLists(platform, service(), T(token), T(file_)), TC_EXCHANGE_COMPLETE);
  ASSERT_EQ(Field(Json(), "items.2.title"), "Backlog");
  const std::string backlog = Field(Json(), "items.2.id");
  const std::string myTasks = Field(Json(), "items.0.id");

  // The library's pages: 100, then the remaining 20 through the token, every
  // task in order, the completed and hidden ones included.
  std::vector<std::string> titles, updated;
  int completed = 0, hidden = 0, pages = 0;
  std::u16string pageToken;
  std::string firstToken;
  do {
    ASSERT_LT(++pages, 5);
    ASSERT_EQ(taskclient::ListTasksPage(platform, service(), T(token), T(U(backlog)), T(pageToken), T(file_)),
              TC_EXCHANGE_COMPLETE);
    JsonValue page = Json();
    EXPECT_EQ(Reply().status, 200);
    const JsonValue* items = page.Find("items");
    ASSERT_TRUE(items);
    EXPECT_EQ(items->elements.size(), pages == 1 ? 100u : 20u);
    for (const JsonValue& item : items->elements) {
      titles.push_back(Field(item, "title"));
      updated.push_back(Field(item, "updated"));
      if (Field(item, "status") == "completed") {
        ++completed;
        EXPECT_TRUE(item.Find("completed")) << "a completed task says when";
      }
      if (item.Find("hidden")) ++hidden;
    }
    const JsonValue* next = page.Find("nextPageToken");
    pageToken = next ? U(next->text) : u"";
    if (pages == 1) firstToken = next ? next->text : "";
  } while (!pageToken.empty());
  EXPECT_EQ(pages, 2);
  ASSERT_EQ(titles.size(), 120u);
  for (size_t i = 0; i < titles.size(); ++i) {
    char expected[48];
    std::snprintf(expected, sizeof expected, "Backlog item %03zu", i + 1);
    EXPECT_EQ(titles[i], expected);
  }
  EXPECT_EQ(completed, 10);
  EXPECT_EQ(hidden, 5);
  EXPECT_NE(firstToken.find_first_of("+/="), std::string::npos) << "the token needs escaping: " << firstToken;

  // The plain listing gets the service's defaults: 20, hidden ones left out.
  ASSERT_EQ(taskclient::ListTasks(platform, service(), T(token), T(U(backlog)), T(file_)), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Json().Find("items")->elements.size(), 20u);
  EXPECT_EQ(Field(Json(), "items.11.title"), "Backlog item 013") << "item 012 is hidden";
  EXPECT_TRUE(Json().Find("nextPageToken"));

  // Every change is stamped to the millisecond, each later than the one before.
  for (size_t i = 1; i < updated.size(); ++i) {
    EXPECT_LT(updated[i - 1], updated[i]);
    EXPECT_EQ(updated[i].size(), std::string("2026-01-01T00:00:00.000Z").size()) << updated[i];
  }
  // The stamp of item N; the same instant with an offset ('+' escaped); 100 us after it.
  auto at = [&](size_t n) { return updated[n - 1]; };
  auto offset = [&](size_t n) {
    std::string stamp = at(n);  // ...THH:MM... an hour on, "+01:00" (the date stays for hours before 23)
    int hour = std::stoi(stamp.substr(11, 2));
    if (hour == 23) return stamp;
    const std::string hours = std::to_string(hour + 1);
    return stamp.replace(11, 2, std::string(2 - hours.size(), '0') + hours).replace(stamp.size() - 1, 1, "%2B01:00");
  };
  auto after = [&](size_t n) { return at(n).substr(0, 23) + "1Z"; };
  // Every tenth is due on day N/10 of January 2027; every twelfth completed (12 to 60 hidden).
  const std::string due = "2027-01-";

  // The query as the service reads it.
  const std::string path = "/tasks/v1/lists/" + backlog + "/tasks";
  struct Case {
    const char* what;
    std::string query;
    int status;
    size_t items;
    bool more;
    std::string inReply = "";
  } cases[] = {
      {"no query", "", 200, 20, true},
      {"five", "?maxResults=5", 200, 5, true},
      {"more than 100 asked", "?maxResults=500&showHidden=true", 200, 100, true},
      {"no completed ones", "?maxResults=100&showCompleted=false&showHidden=true", 200, 100, true},
      {"second page", "?maxResults=100&showCompleted=true&showHidden=true&showAssigned=true&pageToken=" +
                          tools::PercentEncode(firstToken),
       200, 20, false},
      {"empty page token", "?maxResults=100&showHidden=true&pageToken=", 200, 100, true},
      {"unknown page token", "?pageToken=nonsense", 400, 0, false},
      {"token as it comes, '+' read as a space", "?pageToken=" + firstToken, 400, 0, false},
      {"zero", "?maxResults=0", 400, 0, false},
      {"not a number", "?maxResults=ten", 400, 0, false},
      {"not a boolean", "?showCompleted=yes", 400, 0, false},
      {"showDeleted, showAssigned: none here", "?showDeleted=true&showAssigned=true&maxResults=100", 200, 100, true},
      // updatedMin: a task updated exactly then is listed, one just before is not.
      {"updatedMin at item 101", "?updatedMin=" + at(101), 200, 20, false},
      {"updatedMin, as an offset", "?updatedMin=" + offset(101), 200, 20, false},
      {"updatedMin just after item 101", "?updatedMin=" + after(101), 200, 19, false},
      {"updatedMin with hidden ones", "?maxResults=100&showHidden=true&updatedMin=" + at(49), 200, 72, false},
      {"updatedMin, not completed", "?maxResults=100&showCompleted=false&updatedMin=" + at(49), 200, 66, false},
      // completedMin, completedMax: only completed tasks, bounds included.
      {"completed within", "?completedMin=" + at(96) + "&completedMax=" + at(108), 200, 2, false},
      {"completedMax just after", "?completedMax=" + after(96) + "&completedMin=" + after(84), 200, 1, false},
      {"completed, hidden left out", "?completedMax=" + at(60), 200, 0, false},
      {"completed, hidden shown", "?showHidden=true&completedMax=" + at(60), 200, 5, false},
      {"completed, none shown", "?showCompleted=false&completedMin=" + at(1), 200, 0, false},
      // dueMin, dueMax: only tasks with a due date, bounds included.
      {"due within", "?dueMin=" + due + "03T00:00:00Z&dueMax=" + due + "05T00:00:00.000Z", 200, 3, false},
      {"dueMin alone", "?dueMin=" + due + "11T00:00:00Z", 200, 2, false},
      {"dueMax as an offset", "?dueMax=" + due + "02T01:00:00%2B01:00", 200, 2, false},
      {"dueMax with hidden ones", "?showHidden=true&dueMax=" + due + "06T00:00:00Z", 200, 6, false},
      {"due and updated", "?dueMin=" + due + "10T00:00:00Z&updatedMin=" + at(110), 200, 2, false},
      {"due, updated, not completed",
       "?dueMin=" + due + "10T00:00:00Z&updatedMin=" + at(110) + "&showCompleted=false", 200, 1, false},
      // Values that are not RFC 3339 timestamps.
      {"updatedMin a date", "?updatedMin=2027-01-01", 400, 0, false, "Request contains an invalid argument."},
      {"updatedMin no zone", "?updatedMin=2027-01-01T00:00:00", 400, 0, false, "INVALID_ARGUMENT"},
      {"completedMin Feb 30", "?completedMin=2027-02-30T00:00:00Z", 400, 0, false},
      {"completedMax words", "?completedMax=yesterday", 400, 0, false},
      {"dueMin hour 24", "?dueMin=2027-01-01T24:00:00Z", 400, 0, false},
      {"dueMax bad offset", "?dueMax=2027-01-01T00:00:00+0100", 400, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<tools::Reply> reply = tools::ReadReply(RawExchange(
        local_.port(), "GET " + path + c.query + " HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer " + access +
                           "\r\nConnection: close\r\n\r\n"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status) << reply->body;
    EXPECT_NE(reply->body.find(c.inReply), std::string::npos) << reply->body;
    if (c.status != 200) continue;
    std::optional<JsonValue> json = tools::ParseJson(reply->body);
    ASSERT_TRUE(json);
    const JsonValue* items = json->Find("items");
    EXPECT_EQ(items ? items->elements.size() : 0u, c.items);
    EXPECT_EQ(json->Find("nextPageToken") != nullptr, c.more);
    if (std::string(c.what) == "no completed ones") {
      for (const JsonValue& item : json->Find("items")->elements) EXPECT_EQ(Field(item, "status"), "needsAction");
    }
  }
  // A filtered listing page by page: the token holds for the same filters,
  // however they are spelled, and for no others.
  std::string listed, next, filteredToken;
  pages = 0;
  do {
    ASSERT_LT(++pages, 20);
    const std::string filters = pages % 2 ? "?showHidden=true&updatedMin=" + at(11) : "?updatedMin=" + offset(11) +
                                                                                         "&showHidden=true";
    Answer page = Send(access, "GET", path + filters + "&maxResults=7&pageToken=" + tools::PercentEncode(next));
    ASSERT_EQ(page.status, 200);
    listed += (listed.empty() ? "" : ",") + Values(page.json, "items.*.title");
    next = Values(page.json, "nextPageToken");
    if (pages == 1) filteredToken = next;
  } while (!next.empty());
  EXPECT_EQ(pages, 16);  // items 11 to 120
  std::string expected;
  for (size_t i = 10; i < titles.size(); ++i) expected += (expected.empty() ? "" : ",") + titles[i];
  EXPECT_EQ(listed, expected);
  for (const std::string& other : {std::string("?showHidden=true"), "?showHidden=true&updatedMin=" + at(12),
                                   "?showHidden=true&showDeleted=true&updatedMin=" + at(11)}) {
    EXPECT_EQ(Send(access, "GET", path + other + "&pageToken=" + tools::PercentEncode(filteredToken)).status, 400)
        << other;
  }
  // A page token belongs to its list.
  ASSERT_EQ(taskclient::ListTasksPage(platform, service(), T(token), T(U(myTasks)), T(U(firstToken)), T(file_)),
            TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Reply().status, 400);
}

TEST_F(LocalServiceTest, CompletedTaskIsListedWithStatusCompleted) {
  taskclient::Platform& platform = taskclient::SystemPlatform();
  const std::string access = SignIn();
  const std::u16string token = U(access);
  ASSERT_EQ(taskclient::ListTaskLists(platform, service(), T(token), T(file_)), TC_EXCHANGE_COMPLETE);
  const std::u16string list = U(Field(Json(), "items.0.id"));
  ASSERT_EQ(taskclient::AddTask(platform, service(), T(token), T(list), T(u"Buy milk"), nullptr, T(file_)),
            TC_EXCHANGE_COMPLETE);
  const std::string id = Field(Json(), "id");
  EXPECT_FALSE(Json().Find("completed"));

  ASSERT_EQ(taskclient::CompleteTask(platform, service(), T(token), T(list), T(U(id)), T(file_)),
            TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Reply().status, 200);
  JsonValue done = Json();
  EXPECT_EQ(Field(done, "id"), id);
  EXPECT_EQ(Field(done, "title"), "Buy milk");
  EXPECT_EQ(Field(done, "status"), "completed");
  const std::string when = Field(done, "completed");
  EXPECT_EQ(when.size(), std::string("2026-01-01T00:00:00.000Z").size()) << when;

  // The paged listing shows it completed, as does the plain one (completed
  // through the API, it is not hidden).
  ASSERT_EQ(taskclient::ListTasksPage(platform, service(), T(token), T(list), T(u""), T(file_)), TC_EXCHANGE_COMPLETE);
  JsonValue page = Json();
  ASSERT_EQ(Field(page, "items.0.id"), id);
  EXPECT_EQ(Field(page, "items.0.status"), "completed");
  EXPECT_EQ(Field(page, "items.0.completed"), when);
  EXPECT_EQ(Field(page, "items.1.status"), "needsAction");
  ASSERT_EQ(taskclient::ListTasks(platform, service(), T(token), T(list), T(file_)), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Field(Json(), "items.0.status"), "completed");

  // The PATCH body as the service reads it.
  const std::string target = "/tasks/v1/lists/" + std::string(list.begin(), list.end()) + "/tasks/" + id;
  auto patch = [&](const std::string& type, const std::string& body) {
    return tools::ReadReply(RawExchange(local_.port(), "PATCH " + target + " HTTP/1.1\r\nHost: h\r\n"
                                                       "Authorization: Bearer " + access + "\r\nContent-Type: " +
                                                       type + "\r\nContent-Length: " + std::to_string(body.size()) +
                                                       "\r\nConnection: close\r\n\r\n" + body));
  };
  struct Case {
    const char* what;
    std::string type, body;
    int status;
    std::string inReply;
  } cases[] = {
      {"unterminated JSON", "application/json", "{\"status\": \"completed\"", 400, "parseError"},
      {"not an object", "application/json", "\"completed\"", 400, "Not an object"},
      {"unknown status", "application/json", "{\"status\": \"done\"}", 400, "resource.status"},
      {"status not a string", "application/json", "{\"status\": 1}", 400, "resource.status"},
      {"form body", "application/x-www-form-urlencoded", "status=completed", 400, "Content-Type"},
      {"reopened", "application/json", "{\"status\": \"needsAction\"}", 200,
       "\"status\": \"needsAction\",\n  \"webViewLink\": \"https://tasks.google.com/task/" + id + "\"\n"},
      {"completed again", "application/json; charset=UTF-8", "{ \"status\": \"completed\" }", 200,
       "\"status\": \"completed\",\n  \"completed\": "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<tools::Reply> reply = patch(c.type, c.body);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status) << reply->body;
    EXPECT_NE(reply->body.find(c.inReply), std::string::npos) << reply->body;
  }
}


// --- Every task and task list method ---------------------------------------------

// A story through every method on a list of its own, one row a request.
// "{name}" in a target or an expected value stands for the id an earlier row
// kept; "?" expects some value, "" none at all. Told with the ids as the
// service makes them, then with every id beginning with '-'; both stand-ins
// hold the assigned tasks.
TEST_F(LocalServiceTest, TaskAndListMethodsAnswerAsTheServiceDoes) {
  struct Step {
    const char* method;
    std::string target, body;
    int status;
    std::vector<std::pair<const char*, std::string>> expect;
    const char* keep = nullptr;  // the name the reply's value at `from` is kept under
    const char* from = "id";
  };
  const std::string lists = "/tasks/v1/users/@me/lists", tasks = "/tasks/v1/lists/{L}/tasks";
  const Step steps[] = {
      // The seeded lists and tasks.
      {"GET", lists, "", 200, {{"items.*.title", "My Tasks,Groceries,Backlog"}}},
      {"GET", "/tasks/v1/lists/@default/tasks", "", 200, {{"items.*.title", "Water the plants,Call the bank"}}},
      // Assigned ones come only with showAssigned, shaped as the service shapes them.
      {"GET", "/tasks/v1/lists/@default/tasks?showAssigned=true", "", 200,
       {{"items.*.title", "Water the plants,Call the bank,Check the figures in section 2,"
                          "Send the draft to the printer,Book a room for the team lunch"},
        {"items.*.assignmentInfo.surfaceType", "DOCUMENT,DOCUMENT,SPACE"},
        {"items.2.assignmentInfo.linkToTask", "?"}, {"items.*.assignmentInfo.driveResourceInfo.driveFileId", "?"},
        {"items.4.assignmentInfo.spaceInfo.space", "?"}, {"items.0.assignmentInfo", ""}},
       "d", "items.2.id"},
      {"GET", "/tasks/v1/lists/@default/tasks?showAssigned=true", "", 200, {}, "s", "items.4.id"},
      {"GET", "/tasks/v1/lists/@default/tasks/{s}", "", 200, {{"assignmentInfo.spaceInfo.space", "?"}}},
      {"POST", "/tasks/v1/lists/@default/tasks?parent={d}", "{}", 400, {}},
      {"GET", "/tasks/v1/lists/@default/tasks?updatedMin=2026-13-01T00:00:00Z", "", 400,
       {{"error.message", "Request contains an invalid argument."}, {"error.status", "INVALID_ARGUMENT"}}},
      {"POST", lists, R"({"title": "Trip"})", 200, {{"kind", "tasks#taskList"}, {"title", "Trip"}}, "L"},
      {"GET", tasks, "", 200, {{"kind", "tasks#tasks"}, {"items", ""}}},
      {"POST", tasks, R"({"title": "A", "notes": "n", "due": "2026-03-01T23:30:00-08:00", "id": "x", "hidden": true})",
       200, {{"title", "A"}, {"notes", "n"}, {"due", "2026-03-01T00:00:00.000Z"}, {"status", "needsAction"},
             {"parent", ""}, {"completed", ""}, {"hidden", ""}}, "a"},
      {"POST", tasks + "?previous={a}", R"({"title": "B", "status": "completed"})", 200, {{"completed", "?"}}, "b"},
      {"POST", tasks + "?parent={a}", "", 200, {{"title", ""}, {"parent", "{a}"}}, "a1"},
      {"GET", tasks, "", 200, {{"items.*.id", "{a},{a1},{b}"}}},
      {"PATCH", tasks + "/{b}", R"({"status": "needsAction"})", 200, {{"status", "needsAction"}, {"completed", ""}}},
      {"PUT", tasks + "/{a}", R"({"title": "A2"})", 200, {{"title", "A2"}, {"notes", ""}, {"due", ""}}},
      {"PATCH", tasks + "/{a}", R"({"notes": "m", "due": null})", 200, {{"title", "A2"}, {"notes", "m"}, {"due", ""}}},
      {"POST", tasks + "/{b}/move", "", 200, {{"parent", ""}}},
      {"POST", tasks + "/{a1}/move?parent={b}", "", 200, {{"parent", "{b}"}}},
      {"GET", tasks, "", 200, {{"items.*.id", "{b},{a1},{a}"}}},
      {"PATCH", tasks + "/{a}", R"({"status": "completed"})", 200, {{"completed", "?"}}},
      {"POST", "/tasks/v1/lists/{L}/clear", "", 204, {}},
      {"GET", tasks, "", 200, {{"items.*.id", "{b},{a1}"}}},
      {"GET", tasks + "?showHidden=true", "", 200, {{"items.*.id", "{b},{a1},{a}"}, {"items.2.hidden", "true"}}},
      // Placements the service refuses: under a task that is cleared away,
      // a cleared task nested, a task below its own subtask, a previous task
      // of another parent, a parent that is not there.
      {"POST", tasks + "/{b}/move?parent={a}", "", 400, {{"error.status", "INVALID_ARGUMENT"}}},
      {"POST", tasks + "/{a}/move?parent={b}", "", 400, {}},
      {"POST", tasks + "/{b}/move?parent={a1}", "", 400, {}},
      {"POST", tasks + "/{b}/move?previous={a1}", "", 400, {}},
      {"POST", tasks + "?parent=nosuch", "{}", 400, {}},
      // Values it refuses, leaving the task as it was.
      {"PATCH", tasks + "/{b}", R"({"title": "C", "status": "done"})", 400,
       {{"error.code", "400"}, {"error.errors.0.reason", "invalid"}}},
      {"PATCH", tasks + "/{b}", R"({"due": "2026-02-30T00:00:00Z"})", 400, {}},
      {"PATCH", tasks + "/{b}", R"({"due": "2026-03-01"})", 400, {}},
      {"PATCH", tasks + "/{b}", R"({"title": ")" + std::string(1025, 'x') + "\"}", 400, {}},
      {"PUT", tasks + "/{b}", "{\"title\": ", 400, {{"error.errors.0.reason", "parseError"}}},
      {"GET", tasks + "/{b}", "", 200,
       {{"title", "B"}, {"status", "needsAction"}, {"webViewLink", "https://tasks.google.com/task/{b}"}}},
      {"GET", tasks + "/nosuch", "", 404, {{"error.code", "404"}, {"error.status", "NOT_FOUND"}}},
      {"POST", tasks + "/{b}/move?destinationTasklist=nosuch", "", 404, {}},
      // To the default list, its subtask along; an assigned task is no subtask.
      {"POST", tasks + "/{b}/move?destinationTasklist=@default", "", 200, {{"id", "{b}"}}},
      {"GET", "/tasks/v1/lists/@default/tasks/{a1}", "", 200, {{"parent", "{b}"}}},
      {"GET", tasks + "/{a1}", "", 404, {}},
      {"POST", "/tasks/v1/lists/@default/tasks/{s}/move?parent={b}", "", 400, {}},
      {"POST", "/tasks/v1/lists/@default/tasks/{b}/move?parent={d}", "", 400, {}},
      // Deleted, its subtask with it: kept as tombstones, listed with showDeleted.
      {"DELETE", "/tasks/v1/lists/@default/tasks/{b}", "", 204, {}},
      {"GET", "/tasks/v1/lists/@default/tasks/{b}", "", 200, {{"deleted", "true"}, {"id", "{b}"}}, "t", "updated"},
      {"GET", "/tasks/v1/lists/@default/tasks/{a1}", "", 200, {{"deleted", "true"}, {"parent", "{b}"}}},
      {"GET", "/tasks/v1/lists/@default/tasks", "", 200,
       {{"items.*.title", "Water the plants,Call the bank"}, {"items.*.deleted", ""}}},
      {"GET", "/tasks/v1/lists/@default/tasks?showDeleted=true", "", 200,
       {{"items.0.id", "{b}"}, {"items.1.id", "{a1}"}, {"items.*.deleted", "true,true"}}},
      {"GET", "/tasks/v1/lists/@default/tasks?showDeleted=true&showAssigned=true&updatedMin={t}", "", 200,
       {{"items.*.id", "{b},{a1}"}}},
      {"PATCH", "/tasks/v1/lists/@default/tasks/{b}", R"({"title": "back"})", 404, {}},
      {"POST", "/tasks/v1/lists/@default/tasks/{a1}/move", "", 404, {}},
      {"POST", "/tasks/v1/lists/@default/tasks?parent={b}", "{}", 400, {}},
      {"DELETE", "/tasks/v1/lists/@default/tasks/{b}", "", 404, {}},
      {"GET", "/tasks/v1/lists/@default/tasks/{b}", "", 200, {{"updated", "{t}"}}},
      // The list itself.
      {"GET", lists + "/{L}", "", 200, {{"title", "Trip"}, {"id", "{L}"}}},
      {"PATCH", lists + "/{L}", R"({"title": "Trip 2"})", 200, {{"title", "Trip 2"}}},
      {"PUT", lists + "/{L}", "", 200, {{"title", ""}}},
      {"PATCH", lists + "/{L}", R"({"title": 7})", 400, {}},
      {"DELETE", lists + "/{L}", "", 204, {}},
      {"GET", tasks, "", 404, {}},
      {"DELETE", lists + "/@default", "", 400, {}},
      {"GET", lists + "/@default", "", 200, {{"title", "My Tasks"}}},
  };
  tools::LocalServiceOptions assigned = Quiet();
  assigned.assignedTasks = true;
  tools::LocalServiceOptions dashes = assigned;
  dashes.idsBeginWithDash = true;
  tools::LocalService plain(assigned), dashed(dashes);
  for (tools::LocalService* stand_in : {&plain, &dashed}) {
    on_ = stand_in;
    SCOPED_TRACE(stand_in == &dashed ? "every id begins with '-'" : "ids as the service makes them");
    const std::string access = SignIn();
    std::map<std::string, std::string> kept;
    auto fill = [&](std::string text) {
      for (const auto& [name, id] : kept) {
        for (size_t at; (at = text.find("{" + name + "}")) != std::string::npos;) text.replace(at, name.size() + 2, id);
      }
      return text;
    };
    std::set<std::string> ids;  // every id handed out, seeded or new
    for (const Step& step : steps) {
      const std::string target = fill(step.target);
      SCOPED_TRACE(std::string(step.method) + " " + target);
      Answer answer = Send(access, step.method, target, step.body);
      ASSERT_EQ(answer.status, step.status) << answer.json.ToString();
      for (const auto& [path, expected] : step.expect) {
        if (expected == "?") {
          EXPECT_NE(Values(answer.json, path), "") << path;
        } else {
          EXPECT_EQ(Values(answer.json, path), fill(expected)) << path;
        }
      }
      if (step.keep) kept[step.keep] = Values(answer.json, step.from);
      for (const char* path : {"id", "items.*.id"}) {
        for (const JsonValue* id : answer.json.All(path)) ids.insert(id->text);
      }
    }
    const size_t withDash = static_cast<size_t>(
        std::count_if(ids.begin(), ids.end(), [](const std::string& id) { return id.rfind('-', 0) == 0; }));
    EXPECT_GE(ids.size(), 9u);  // three lists and two tasks seeded, a list and three tasks made
    if (stand_in == &dashed) {
      EXPECT_EQ(withDash, ids.size());
    } else {
      EXPECT_LT(withDash, ids.size()) << "about one in 64 begins with '-'";
    }
  }
}

TEST_F(LocalServiceTest, EtagsFollowEveryChangeAndPositionsStayPut) {
  const std::string access = SignIn();
  const std::string tasks = "/tasks/v1/lists/@default/tasks";
  struct Seen {
    std::vector<std::string> ids;
    std::map<std::string, std::string> etag, position;
  };
  auto look = [&] {
    Seen seen;
    const JsonValue page = Send(access, "GET", tasks).json;
    for (const JsonValue* item : page.All("items.*")) {
      const std::string id = Field(*item, "id"), position = Field(*item, "position");
      EXPECT_TRUE(position.size() == 20 && position.find_first_not_of("0123456789") == std::string::npos) << position;
      if (!seen.ids.empty()) {
        EXPECT_LT(seen.position[seen.ids.back()], position) << "listed in position order";
      }
      seen.ids.push_back(id);
      seen.etag[id] = Field(*item, "etag");
      seen.position[id] = position;
    }
    return seen;
  };
  const Seen before = look();
  ASSERT_EQ(before.ids.size(), 2u);
  auto insert = [&](const std::string& query) { return Values(Send(access, "POST", tasks + query, "{}").json, "id"); };
  const std::string top = insert(""), middle = insert("?previous=" + before.ids[0]),
                    end = insert("?previous=" + before.ids[1]);
  Seen after = look();
  EXPECT_EQ(after.ids, (std::vector<std::string>{top, before.ids[0], middle, before.ids[1], end}));
  for (const std::string& id : before.ids) {
    EXPECT_EQ(after.position[id], before.position.at(id)) << "a neighbour's insertion moves nothing";
    EXPECT_EQ(after.etag[id], before.etag.at(id));
  }

  // Every change gives a new etag and a later `updated`, the same change
  // again too; reading keeps them. Completing stamps `completed` with it.
  std::set<std::string> etags = {before.etag.at(before.ids[0])};
  const std::string target = tasks + "/" + before.ids[0];
  std::string updated = Field(Send(access, "GET", target).json, "updated");
  for (const char* body : {R"({"title": "x"})", R"({"title": "x"})", R"({"status": "completed"})"}) {
    JsonValue changed = Send(access, "PATCH", target, body).json;
    EXPECT_TRUE(etags.insert(Field(changed, "etag")).second) << body;
    EXPECT_LT(updated, Field(changed, "updated")) << body;
    updated = Field(changed, "updated");
    EXPECT_EQ(Field(Send(access, "GET", target).json, "etag"), Field(changed, "etag"));
    EXPECT_EQ(Field(changed, "position"), before.position.at(before.ids[0]));
  }
  EXPECT_EQ(Field(Send(access, "GET", target).json, "completed"), updated);
  EXPECT_TRUE(etags.insert(Field(Send(access, "POST", target + "/move").json, "etag")).second) << "moved";
  const std::string list = "/tasks/v1/users/@me/lists/@default";
  const std::string listEtag = Field(Send(access, "GET", list).json, "etag");
  EXPECT_EQ(Field(Send(access, "GET", list).json, "etag"), listEtag);
  EXPECT_NE(Field(Send(access, "PATCH", list, R"({"title": "Mine"})").json, "etag"), listEtag);
}

TEST_F(LocalServiceTest, TaskListsComePageByPage) {
  const std::string access = SignIn();
  const std::string lists = "/tasks/v1/users/@me/lists";
  for (const char* title : {"Four", "Five"}) Send(access, "POST", lists, "{\"title\": \"" + std::string(title) + "\"}");
  EXPECT_EQ(Values(Send(access, "GET", lists).json, "items.*.title"), "My Tasks,Groceries,Backlog,Four,Five");
  std::string titles, token;
  int pages = 0;
  do {
    ASSERT_LT(++pages, 5);
    JsonValue page = Send(access, "GET", lists + "?maxResults=2&pageToken=" + tools::PercentEncode(token)).json;
    titles += (titles.empty() ? "" : ",") + Values(page, "items.*.title");
    token = Values(page, "nextPageToken");
  } while (!token.empty());
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(titles, "My Tasks,Groceries,Backlog,Four,Five");
  // A page token of the tasks of a list leads nowhere here.
  const std::string tasksToken = Values(Send(access, "GET", "/tasks/v1/lists/@default/tasks?maxResults=1").json,
                                        "nextPageToken");
  for (const std::string& query : std::vector<std::string>{"?maxResults=0", "?maxResults=x", "?pageToken=nonsense",
                                   "?pageToken=" + tools::PercentEncode(tasksToken)}) {
    EXPECT_EQ(Send(access, "GET", lists + query).status, 400) << query;
  }
}

TEST_F(LocalServiceTest, FailNextRequestsAnswersWithTheServiceErrors) {
  const std::string access = SignIn();
  const std::string lists = "/tasks/v1/users/@me/lists";
  local_.FailNextRequests(2);
  EXPECT_EQ(Send("ya29.not-a-token", "GET", lists).status, 401) << "a request without a valid token is not counted";
  for (int i = 0; i < 2; ++i) {
    Answer refused = Send(access, "GET", lists);
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(Values(refused.json, "error.code"), "429");
    EXPECT_EQ(Values(refused.json, "error.status"), "RESOURCE_EXHAUSTED");
    EXPECT_EQ(Values(refused.json, "error.errors.0.reason"), "rateLimitExceeded");
  }
  EXPECT_EQ(Send(access, "GET", lists).status, 200);

  local_.FailNextRequests(1, 503);
  SignIn();  // the token path is never turned away
  Answer unavailable = Send(access, "POST", "/tasks/v1/lists/@default/clear");
  EXPECT_EQ(unavailable.status, 503);
  EXPECT_EQ(Values(unavailable.json, "error.status"), "UNAVAILABLE");
  EXPECT_EQ(Send(access, "POST", "/tasks/v1/lists/@default/clear").status, 204);
  EXPECT_THROW(local_.FailNextRequests(1, 404), std::invalid_argument);
}

}  // namespace
