// The local stand-in for the service: the whole story through the library's
// internal functions, the service's error replies, and the strict reading of
// requests (a malformed request must fail loudly, not be guessed at).
#include "local_service_support.h"

namespace localservicetest {
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

}  // namespace localservicetest
